# Windows builds link everything statically: the exe imports system DLLs only.
target_link_options(ostravel_core PUBLIC -static -static-libgcc -static-libstdc++)
if(OSTRAVEL_SUBSYSTEM_VERSION)
  set(OSTRAVEL_SUBSYSTEM_FLAG -Wl,--subsystem,windows:${OSTRAVEL_SUBSYSTEM_VERSION})
else()
  set(OSTRAVEL_SUBSYSTEM_FLAG -Wl,--subsystem,windows)
endif()
