qimbo_test(panels
  panels/geometry_test.cpp
  panels/text_test.cpp
  panels/open_item_test.cpp
  panels/site_icon_test.cpp
)
