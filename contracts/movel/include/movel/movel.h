// The object-model runtime: type objects, registration and lookup, versions,
// values, faults.
#pragma once

#include "movel/any.h"
#include "movel/array.h"
#include "movel/builtin.h"
#include "movel/data_object.h"
#include "movel/data_types.h"
#include "movel/dispatch_support.h"
#include "movel/diff.h"
#include "movel/enum.h"
#include "movel/errors.h"
#include "movel/fault.h"
#include "movel/fields.h"
#include "movel/managed_object.h"
#include "movel/moref.h"
#include "movel/primitive.h"
#include "movel/records.h"
#include "movel/size.h"
#include "movel/strings.h"
#include "movel/stub.h"
#include "movel/type.h"
#include "movel/version.h"
