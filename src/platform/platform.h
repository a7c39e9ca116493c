// Every platform header at once, while the files move to the headers of
// what they use.
#pragma once

#include "platform/arguments.h"
#include "platform/cancel_signals.h"
#include "platform/closing_report.h"
#include "platform/conventions.h"
#include "platform/copy_offload.h"
#include "platform/message_boxes.h"
#include "platform/owner_copy.h"
#include "platform/panel_terminal.h"
#include "platform/real_path.h"
#include "platform/shortcuts.h"
#include "platform/text_case.h"
#include "platform/tree_prefetch.h"
#include "platform/windows_api.h"
