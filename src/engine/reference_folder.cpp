#include "engine/reference_folder.h"

#include "report/fatal_message.h"

int runReferenceFolder(int) {
    fatalMessage(1, "KAZ - this build cannot use reference folders yet; nothing was changed.");
}
