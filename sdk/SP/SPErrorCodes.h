// Result codes of the host's suite broker.
#pragma once

#define kSPNoError 0
