# The shots model is checked with Qt's item-model tester.
find_package(Qt6 REQUIRED COMPONENTS Test)
target_link_libraries(ShotsModelTest PRIVATE Qt6::Test)
