#include "platform/library.h"

#include <dlfcn.h>
#include <unistd.h>
#include <utility>

namespace kv::os {

Library::~Library() {
    free();
}
Library::Library(Library&& o) noexcept
    : FHandle(std::exchange(o.FHandle, nullptr)), FError(std::move(o.FError)), FErrorCode(o.FErrorCode) {}
Library& Library::operator=(Library&& o) noexcept {
    if (this != &o) {
        free();
        FHandle = std::exchange(o.FHandle, nullptr);
        FError = std::move(o.FError);
        FErrorCode = o.FErrorCode;
    }
    return *this;
}

bool Library::load(std::string_view name) {
    free();
    std::string n(name);
    FHandle = ::dlopen(n.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle) {
        const char* e = ::dlerror();
        FError = e ? e : "cannot load " + n;
        return false;
    }
    FError.clear();
    return true;
}

bool Library::load_searching(std::string_view name, const char* const* extra_dirs) {
    if (name.find('/') != std::string_view::npos) return load(name);
    std::string first_error;
    auto try_dir = [&](const std::string& dir) {
        std::string p = dir + "/" + std::string(name);
        if (::access(p.c_str(), F_OK) != 0) return false;
        if (load(p)) return true;
        if (first_error.empty()) first_error = FError;
        return false;
    };
    if (try_dir(program_directory())) return true;
    for (auto d = extra_dirs; d && *d; ++d)
        if (try_dir(*d)) return true;
    if (load(name)) return true;
    if (!first_error.empty()) FError = first_error;
    return false;
}

void* Library::symbol(const char* name) const {
    return FHandle ? ::dlsym(FHandle, name) : nullptr;
}

void Library::free() noexcept {
    if (FHandle) ::dlclose(std::exchange(FHandle, nullptr));
}

std::string program_path() {
    std::string buf(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buf;
}

std::string program_directory() {
    std::string p = program_path();
    auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string(".") : p.substr(0, slash ? slash : 1);
}

} // namespace kv::os
