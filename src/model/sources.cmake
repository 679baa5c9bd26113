# The portable side of the application: the model.
list(APPEND QIMBO_CORE_SOURCES src/model/app_logic.cpp src/model/sync.cpp)
