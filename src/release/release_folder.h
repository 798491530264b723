// A release as the vendor keeps it before publishing: a folder laid out as
// the package server serves it (logo1024.png at its root, the packages under
// 2027/), whose manifest and signature go to 2027/release.txt and
// 2027/release.sig. Folder names are UTF-8, formed with "\" as the platform
// layer takes them.
#pragma once

#include "release/verification.h"

#include <string>
#include <string_view>

namespace kv::release {

// Every file under the folder with its size and SHA-256, except the
// manifest and its signature. Raises EReleaseError for a name the manifest
// cannot carry and the runtime's file errors for a file that cannot be read.
Manifest describe_folder(const std::string& folder);

// Writes the manifest of the folder, saying which release it is, and its
// signature with the private key (PEM). Raises EReleaseError when the key is
// unusable, the release number is not valid or this build cannot sign.
// Returns the manifest written.
Manifest sign_folder(const std::string& folder, std::string_view private_key_pem, const ReleaseInfo& info);

// The folder's manifest, its signature checked with the public key (PEM).
Release read_folder_release(const std::string& folder, std::string_view public_key_pem);

// The local name of a server path inside the folder.
std::string file_in_folder(const std::string& folder, std::string_view path);

} // namespace kv::release
