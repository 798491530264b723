// Run-time loading of a shared library by file name (the Firebird client and
// 7-Zip's library are never linked). Owned handle; freed with the object.
#pragma once

#include <string>
#include <string_view>

// The calling convention of C entry points that a loaded library exports
// (the Firebird client, 7-Zip): __stdcall on 32-bit Windows, the default
// elsewhere.
#if defined(_WIN32) && defined(__i386__)
#define KV_STDCALL __attribute__((stdcall))
#else
#define KV_STDCALL
#endif

namespace kv::os {

class Library {
public:
    Library() = default;
    ~Library();
    Library(Library&& o) noexcept;
    Library& operator=(Library&& o) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Loads `name` as the platform's loader finds it (Windows: LoadLibraryW;
    // Linux: dlopen, a bare name searched as the system loader does).
    // false on failure, with error() holding the loader's text.
    bool load(std::string_view name);
    // Linux: a bare name is looked for in the program's own folder first, then
    // in `extra_dirs` (in order), then where the system loader looks.
    // Windows: same as load(name).
    bool load_searching(std::string_view name, const char* const* extra_dirs);

    bool loaded() const noexcept { return FHandle != nullptr; }
    void* symbol(const char* name) const; // nullptr when missing
    template <class F> F function(const char* name) const { return reinterpret_cast<F>(symbol(name)); }
    void free() noexcept;
    // Gives the handle up without freeing: the library stays loaded for the
    // rest of the process (for a library that cannot be unloaded safely).
    void release() noexcept { FHandle = nullptr; }

    // The platform's text for the last load failure (dlerror / FormatMessage).
    const std::string& error() const noexcept { return FError; }
    // Windows: the GetLastError code of the last failure; Linux: 0.
    unsigned long error_code() const noexcept { return FErrorCode; }

private:
    void* FHandle = nullptr;
    std::string FError;
    unsigned long FErrorCode = 0;
};

// The folder of the running program, without a trailing separator.
std::string program_directory();
// The program file's full path.
std::string program_path();

} // namespace kv::os
