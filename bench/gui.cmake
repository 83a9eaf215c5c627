# The drawing pipeline: revolution pass, table rows and the 3D view's redraw. The redraw needs an
# X display: xvfb-run -a bench/bench_draw. Build with -DCMAKE_BUILD_TYPE=Release for figures.
if(TARGET tovik16_gui)
  tovik_add_bench(bench_draw SOURCES bench_draw.cpp LIBS tovik16_gui tovik16_sim)
endif()
