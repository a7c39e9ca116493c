#include "report/error_name.h"

namespace {

const ErrorNameRow kErrorNames[] = {
#include "platform/windows_api.h"
#include "report/error_name_table.inc"
    {0, nullptr},
};

}  // namespace

const char* errorName(DWORD code) {
    // A plain scan: this runs only when something has already gone wrong.
    for (const ErrorNameRow* row = kErrorNames; row->name != nullptr; ++row) {
        if (static_cast<DWORD>(row->code) == code) {
            return row->name;
        }
    }
    return "ERROR_UNDEFINED";
}

const ErrorNameRow* errorNameRows() { return kErrorNames; }

int errorNameCount() {
    return static_cast<int>(sizeof kErrorNames / sizeof kErrorNames[0]) - 1;
}
