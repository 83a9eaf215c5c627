# Hand-over of revolutions between threads through the shared frame pool.
tovik_add_gtest(frame_pool_test SOURCES frame_pool_test.cpp LIBS tovik16_io)
