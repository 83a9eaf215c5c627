target_sources(tovik16_core PRIVATE
  csv_writer.h
  csv_writer.cpp
)
