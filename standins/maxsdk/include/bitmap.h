// The bitmap manager: bitmaps described by a BitmapInfo, written by the writer that the
// file name's extension selects.
#pragma once

#include "max.h"

typedef unsigned short BMMRES;

#define BMMRES_SUCCESS 0
#define BMMRES_ERRORTAKENCARE 1

#define BMM_TRUE_32 6
#define BMM_SINGLEFRAME ((DWORD)-2000000)
#define BMM_CLOSE_COMPLETE 0

class BitmapInfo {
public:
    void SetName(const MCHAR* name) { m_name = name; }
    const MCHAR* Name() const { return m_name; }
    void SetWidth(WORD width) { m_width = width; }
    void SetHeight(WORD height) { m_height = height; }
    WORD Width() const { return m_width; }
    WORD Height() const { return m_height; }
    void SetType(int type) { m_type = type; }
    int Type() const { return m_type; }
    void SetFirstFrame(int frame) { m_firstFrame = frame; }
    void SetLastFrame(int frame) { m_lastFrame = frame; }
    int FirstFrame() const { return m_firstFrame; }
    int LastFrame() const { return m_lastFrame; }
    void SetAspect(float aspect) { m_aspect = aspect; }
    float Aspect() const { return m_aspect; }

private:
    TSTR m_name;
    WORD m_width = 0;
    WORD m_height = 0;
    int m_type = 0;
    int m_firstFrame = 0;
    int m_lastFrame = 0;
    float m_aspect = 1.0f;
};

class Bitmap {
public:
    virtual int Width() = 0;
    virtual int Height() = 0;
    virtual BMMRES OpenOutput(BitmapInfo* bi) = 0;
    virtual BMMRES Write(BitmapInfo* bi, DWORD frame = BMM_SINGLEFRAME) = 0;
    virtual BMMRES Close(BitmapInfo* bi, int flag = BMM_CLOSE_COMPLETE) = 0;
    virtual void DeleteThis() = 0;

protected:
    virtual ~Bitmap() = default;
};

class BitmapManager {
public:
    virtual Bitmap* Create(BitmapInfo* bi) = 0;

protected:
    virtual ~BitmapManager() = default;
};

extern BMMExport BitmapManager* TheManager;
