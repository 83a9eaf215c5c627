# The offline playback engine. It holds no widgets, so it belongs to the I/O library beside the
# live receivers.
target_sources(tovik16_io PRIVATE
  ReadLiveOffData.cpp
  ReadLiveOffData.h
)
