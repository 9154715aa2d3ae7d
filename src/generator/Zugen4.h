// Chief header: every component class of the library.
#pragma once

#include "channel/ZuChannel.h"
#include "channel/ZuOptions.h"
#include "generator/ZuGenerator.h"
#include "mathfun/Zumathfun.h"
#include "modulation/ZuDDSMod.h"
#include "modulation/ZuExtModulation.h"
#include "modulation/ZuIntModulation.h"
#include "modulation/ZuLFM.h"
#include "modulation/ZuTuner.h"
