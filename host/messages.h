// Render failure messages and the host's integer rectangles.
#pragma once
#include <string>

#include "AE_Effect.h"

// <windows.h> maps SendMessage to SendMessageA; this one is ours.
#ifdef SendMessage
#undef SendMessage
#endif

// The sink for render failure messages. It leaves `out_data` as it was; the command's result
// carries the error to the host.
void SendMessage(std::string text, PF_OutData* out_data);
// Appends " err <err> err2 <err2>" and hands the text to SendMessage, unless the user cancelled.
void SendMessageAppendErr(std::string text, PF_OutData* out_data, A_long err, A_long err2);

// Lets a test or an embedding host see what reaches the sink. Null stops observing.
using MessageObserver = void (*)(const std::string& text);
void SetMessageObserver(MessageObserver observer);

bool IsEmptyRect(const PF_LRect* rect);
// Grows `dst` to cover `src`; an empty `dst` takes `src` as it is.
void UnionLRect(const PF_LRect* src, PF_LRect* dst);
