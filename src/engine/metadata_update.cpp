#include "engine/metadata_update.h"

#include "platform/entry_details.h"
#include "platform/extended_attributes.h"
#include "platform/owner_copy.h"
#include "platform/windows_api.h"
#include "report/log_file.h"
#include "report/run_state.h"
#include "transfer/attribute_copy.h"

namespace {

uint64_t statusChangeOf(const SourceEntry& source) {
    return (static_cast<uint64_t>(source.statusChangeHigh) << 32) | source.statusChangeLow;
}

void logMetadataCarried(const char* sourcePath, const char* targetPath) {
    if (runState.quiet) return;
    writeLog(": Metadata carried, data up to date ");
    writeLogPair(sourcePath, targetPath);
    writeLog("\r\n");
}

}  // namespace

void updateMetadata(const SourceEntry& source, const WIN32_FIND_DATAA& target,
                    const char* sourcePath, const char* targetPath) {
    const platform::EntryDetails now = platform::detailsOf(target);
    const bool modeDiffers = source.mode != now.mode;
    const bool ownerDiffers =
        platform::carriesOwners() && (source.owner != now.owner || source.group != now.group);
    const bool statusNewer = statusChangeOf(source) > platform::statusChangeTimeOf(target);
    if (!modeDiffers && !ownerDiffers && !statusNewer) return;
    if (runState.trialRun) {
        if (modeDiffers || ownerDiffers) logMetadataCarried(sourcePath, targetPath);
        return;
    }
    // The owner first (its change clears set-ID bits), then the attributes
    // (a new owner would clear a capability), then the mode, which leaves an
    // ACL as the source has it: its mask is the mode's group bits.
    if (ownerDiffers) platform::copyOwner(sourcePath, targetPath);
    bool changed = carryAttributesToUpToDateFile(sourcePath, targetPath, source.attributes);
    if (modeDiffers || ownerDiffers) {
        SetFileAttributesA(targetPath, source.attributes);
        changed = true;
    }
    if (changed) logMetadataCarried(sourcePath, targetPath);
}
