// The module's one export, the entry table, and the entries that belong to no document.
#include <string.h>

#include "addin_interface.h"
#include "extract/entries.h"

namespace {

HostServices* ADDIN_CALL CreateInstance(HostServices* services, void* /*unused*/) {
    if (services == nullptr || services->Allocate == nullptr) return nullptr;
    auto* instance = static_cast<HostServices*>(services->Allocate(services, sizeof(HostServices)));
    if (instance == nullptr) return nullptr;
    memcpy(instance, services, sizeof(HostServices));
    return instance;
}

// The instance releases itself through its own copy of Release.
int32_t ADDIN_CALL DestroyInstance(HostServices* instance) {
    if (instance == nullptr || instance->Release == nullptr) return 0;
    instance->Release(instance, instance);
    return 1;
}

int32_t ADDIN_CALL Noop(void* /*unused*/) { return 1; }

}  // namespace

extern "C" AddinInterface* ADDIN_CALL GetAddinInterface(AddinInterface* table) {
    if (table == nullptr) return nullptr;
    table->CreateInstance = CreateInstance;
    table->Recognize = Recognize;
    table->OpenDocument = OpenDocument;
    table->CloseDocument = CloseDocument;
    table->ReadText = ReadText;
    table->DestroyInstance = DestroyInstance;
    table->Noop = Noop;
    return table;
}
