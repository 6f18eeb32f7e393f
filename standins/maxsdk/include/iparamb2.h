// Class descriptors of the parameter-block generation; the plug-in needs only the base.
#pragma once

#include "max.h"
#include "iFnPub.h"

class ClassDesc2 : public ClassDesc {};
