// The core library: reference counting, smart pointers, callbacks, exceptions,
// time.
#pragma once

#include "basekit/datetime.h"
#include "basekit/functor.h"
#include "basekit/object.h"
#include "basekit/optional.h"
#include "basekit/ref.h"
#include "basekit/scheduled_item.h"
#include "basekit/throwable.h"
