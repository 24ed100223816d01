#include "platform/editline_library.h"

#include <dlfcn.h>

#include <type_traits>

namespace {

// Its functions are looked up once and stay in use until the program ends,
// so the library is never unloaded.
const EditlineLibrary* load() {
    void* const handle = dlopen(ZORVEN_LIBEDIT_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    static EditlineLibrary library;
    bool found = true;
    const auto find = [&](auto& function, const char* name) {
        // POSIX lets a symbol's address be taken for a function's.
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
        found = found && function != nullptr;
    };
    find(library.init, "el_init");
    find(library.end, "el_end");
    find(library.set, "el_set");
    find(library.wset, "el_wset");
    find(library.get, "el_get");
    find(library.gets, "el_gets");
    find(library.line, "el_line");
    find(library.cursor, "el_cursor");
    find(library.deletestr, "el_deletestr");
    find(library.insertstr, "el_insertstr");
    find(library.resize, "el_resize");
    find(library.historyInit, "history_init");
    find(library.historyEnd, "history_end");
    find(library.history, "history");
    return found ? &library : nullptr;
}

}  // namespace

const EditlineLibrary* editlineLibrary() {
    static const EditlineLibrary* const library = load();
    return library;
}
