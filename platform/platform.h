// Every platform service group at once.
#pragma once

#include "platform/draw.h"
#include "platform/file.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/sound.h"
#include "platform/thread.h"
#include "platform/types.h"
#include "platform/window.h"
