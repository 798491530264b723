# The real peers of the Windows programs under Wine, test equipment that never
# ships, for one architecture: 7-Zip's Windows library from the npm package
# (kept in a cache outside the tree), the Firebird client bridge (a Winelib
# DLL forwarding to libfbclient.so.2, built with Wine's own compiler) and its
# PE front (see fbbridge/forwarder.cpp: every export of the bridge's table
# forwarded to fbbridge.dll). Tests deploy the front beside the program as
# fbclient.dll (or gds32.dll) and the bridge as fbbridge.dll: Wine finds a
# Winelib DLL only under its Windows name.
#   kv_wine_peers(ARCH x64|ia32 DIR <folder> WINEGCC <command...>)
# makes the target wine_peers (built with ALL) with <folder>/7z.dll,
# <folder>/fbclient.dll.so and <folder>/pe/fbclient.dll.
set(KV_WINE_PEERS_SOURCE ${CMAKE_CURRENT_LIST_DIR})
function(kv_wine_peers)
  cmake_parse_arguments(P "" "ARCH;DIR" "WINEGCC" ${ARGN})
  set(src ${KV_WINE_PEERS_SOURCE})
  add_custom_command(OUTPUT ${P_DIR}/7z.dll
    COMMAND bash ${src}/fetch_7z_dll.sh ${P_ARCH} ${P_DIR}/7z.dll
    DEPENDS ${src}/fetch_7z_dll.sh
    COMMENT "7-Zip's Windows library (${P_ARCH}) from the npm package cache")
  add_custom_command(OUTPUT ${P_DIR}/fbclient.dll.so
    COMMAND ${CMAKE_COMMAND} -E make_directory ${P_DIR}
    COMMAND ${P_WINEGCC} -shared -O2 -Wall -fvisibility=hidden -o ${P_DIR}/fbclient.dll
            ${src}/fbbridge/fbbridge.c -ldl -Wb,--export=${src}/fbbridge/fbclient.exports
    DEPENDS ${src}/fbbridge/fbclient.exports ${src}/fbbridge/fbbridge.c
    COMMENT "Firebird client bridge for Wine (${P_ARCH})")
  file(STRINGS ${src}/fbbridge/fbclient.exports exports REGEX "^@ ")
  set(forwards "EXPORTS\n")
  foreach(line IN LISTS exports)
    string(REGEX MATCH "^@ [a-z]+ ([A-Za-z0-9_]+)" _ "${line}")
    string(APPEND forwards "  ${CMAKE_MATCH_1}=fbbridge.${CMAKE_MATCH_1}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/fbclient_forwards.def CONTENT "${forwards}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${src}/fbbridge/fbclient.exports)
  add_library(fbclient_forwarder SHARED ${src}/fbbridge/forwarder.cpp ${CMAKE_CURRENT_BINARY_DIR}/fbclient_forwards.def)
  set_target_properties(fbclient_forwarder PROPERTIES PREFIX "" OUTPUT_NAME fbclient
                        RUNTIME_OUTPUT_DIRECTORY ${P_DIR}/pe)
  add_custom_target(wine_peers ALL DEPENDS ${P_DIR}/7z.dll ${P_DIR}/fbclient.dll.so fbclient_forwarder)
endfunction()
