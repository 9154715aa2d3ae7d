// Chief header: every component class of the library.
#pragma once

#include "zugen4/ZuChannel.h"
#include "zugen4/ZuDDSMod.h"
#include "zugen4/ZuExtModulation.h"
#include "zugen4/ZuGenerator.h"
#include "zugen4/ZuIntModulation.h"
#include "zugen4/ZuLFM.h"
#include "zugen4/ZuOptions.h"
#include "zugen4/ZuTuner.h"
