# The installed layout that scripts/package.sh turns into Debian packages, one install component
# per package:
#
#   server: bin/community_server, its private library in lib/community-server
#   client: lib/client-techdemo/client_demo with the library where the client loads it from,
#           lib/client-techdemo/Include/Linux/libDrovik.so (resolved against the real executable's
#           folder, so a symlink in bin/ finds it)
#
# The build tree keeps its own layout (bin/ with bin/Include/<platform>); only the install RPATH
# of the server differs, as its library moves out of bin/.
if(WIN32)
  return()
endif()

if(TARGET community_server)
  set_target_properties(community_server PROPERTIES INSTALL_RPATH "$ORIGIN/../lib/community-server")
  install(TARGETS community_server RUNTIME DESTINATION bin COMPONENT server)
  install(TARGETS Drovik LIBRARY DESTINATION lib/community-server COMPONENT server)
endif()

if(TARGET client_demo)
  install(TARGETS client_demo RUNTIME DESTINATION lib/client-techdemo COMPONENT client)
  install(TARGETS Drovik LIBRARY DESTINATION lib/client-techdemo/Include/Linux COMPONENT client)
endif()
