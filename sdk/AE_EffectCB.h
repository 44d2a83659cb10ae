// Host callbacks are declared with the records they belong to.
#pragma once
#include "AE_Effect.h"
