# kv_release_key(TARGET PEM_FILE): compiles the release public key into TARGET
# as kBuiltInKey (in release_key.inc), or an empty key when PEM_FILE is empty.
# Only a public key is accepted, so that a private one can never end up in a
# program that ships.
function(kv_release_key target pem_file)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/release_key/release_key.inc)
  if(pem_file)
    if(NOT EXISTS "${pem_file}")
      message(FATAL_ERROR "KV_RELEASE_PUBLIC_KEY: no such file: ${pem_file}")
    endif()
    file(READ "${pem_file}" pem)
    if(pem MATCHES "PRIVATE KEY")
      message(FATAL_ERROR "KV_RELEASE_PUBLIC_KEY names a private key: give the public one "
                          "(openssl pkey -in PRIVATE.pem -pubout -out release-public.pem)")
    endif()
    if(NOT pem MATCHES "-----BEGIN PUBLIC KEY-----")
      message(FATAL_ERROR "KV_RELEASE_PUBLIC_KEY: ${pem_file} holds no PEM public key")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pem_file}")
    set(text "constexpr std::string_view kBuiltInKey = R\"kvpem(${pem})kvpem\";\n")
    message(STATUS "Release public key: ${pem_file} (releases are verified)")
  else()
    set(text "constexpr std::string_view kBuiltInKey;\n")
    message(STATUS "Release public key: none (releases are not verified)")
  endif()
  file(CONFIGURE OUTPUT ${out} CONTENT "${text}" @ONLY)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/release_key)
endfunction()
