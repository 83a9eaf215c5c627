# A capture that describes itself: its device packets set the sensor type, modes and vertical
# angles of playback.
target_sources(tovik16_gui PRIVATE
  manwindow_capture.cpp
)
