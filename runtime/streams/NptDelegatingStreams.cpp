/*****************************************************************
| NptDelegatingStreams.cpp - the delegating bases are defined inline in
| their header; this unit checks that the header stands on its own.
****************************************************************/
#include "NptDelegatingStreams.h"
