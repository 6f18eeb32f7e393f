// Global utility plug-ins: loaded at start, started once, stopped at shut-down.
#pragma once

#include "max.h"

class GUP {
public:
    virtual ~GUP() = default;
    // GUPRESULT_KEEP (0) keeps the plug-in loaded.
    virtual DWORD Start() = 0;
    virtual void Stop() = 0;
    virtual DWORD_PTR Control(DWORD /*parameter*/) { return 0; }
    virtual IOResult Save(ISave* /*isave*/) { return IO_OK; }
    virtual IOResult Load(ILoad* /*iload*/) { return IO_OK; }
    virtual void DeleteThis() {}

    Interface* Max() { return GetCOREInterface(); }
};

#define GUPRESULT_KEEP 0x00
#define GUPRESULT_NOKEEP 0x01
#define GUPRESULT_ABORT 0x03
