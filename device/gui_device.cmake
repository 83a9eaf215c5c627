# Windows of the device subsystem (need Qt Widgets).
if(TARGET tovik16_gui)
  target_sources(tovik16_gui PRIVATE
    InetactionSetupWidget.cpp
    InetactionSetupWidget.h
  )
endif()
