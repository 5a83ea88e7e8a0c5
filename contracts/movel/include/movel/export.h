// Symbol visibility for the object-model runtime.
#pragma once

#define MOVEL_API __attribute__((visibility("default")))
