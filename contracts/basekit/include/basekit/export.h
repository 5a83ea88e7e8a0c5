// Symbol visibility for the core library. Everything is hidden unless marked.
#pragma once

#define BASEKIT_API __attribute__((visibility("default")))
