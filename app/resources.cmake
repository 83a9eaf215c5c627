# The compiled-in icons (":/image/Resources/images/..."). The bundle's registration is a static
# initializer that nothing references, so inside the static tovik16_gui archive the linker would
# drop it. It is built once as an object library and its objects are linked directly into every
# executable that links tovik16_gui; no Q_INIT_RESOURCE call is needed.
add_library(tovik16_resources OBJECT ${PROJECT_SOURCE_DIR}/Resources/resources.qrc)
set_target_properties(tovik16_resources PROPERTIES AUTORCC ON)
target_link_libraries(tovik16_resources PRIVATE Qt5::Core)
target_sources(tovik16_gui INTERFACE $<TARGET_OBJECTS:tovik16_resources>)
