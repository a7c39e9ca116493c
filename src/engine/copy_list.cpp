#include "engine/copy_list.h"

#include "report/fatal_message.h"

int replayCopyList() {
    fatalMessage(1, "KAZ - this build cannot replay copy lists yet; nothing was changed.");
}
