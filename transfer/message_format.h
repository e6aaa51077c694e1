// The two texts built for the page about tasks. Both join their fields with
// "|" and write texts as they are (a "|" inside a text is not escaped).
#pragma once

#include <string>

#include "engine/task_event.h"
#include "transfer/task_param.h"

// The 24 event values in position order (engine/task_event.h); 64-bit numbers signed.
std::wstring FormatEventMessage(const TaskEvent& event);

// key|text1|text2|text3|state|number1|number2|number3|text4|text5; 64-bit numbers unsigned.
std::wstring FormatTaskRecordText(const _TaskParam& record);

// General notation with 6 significant digits and an exponent of at least three
// digits (2.5e6 is "2.5e+006"); infinities and NaN are "inf", "-inf" and "nan".
std::wstring FormatGeneralNumber(double value);
