# README's pictures are installed beside it: the images it links are the images the install
# list holds, no more and no fewer, so its links work from the documentation folder.
# cmake -DREADME=<README.md> "-DINSTALLED=docs/a.png;docs/b.png" -P readme_images_check.cmake
file(READ "${README}" text)
string(REGEX MATCHALL "!\\[[^]]*\\]\\([^)]*\\)" links "${text}")
set(linked)
foreach(link IN LISTS links)
  string(REGEX REPLACE "^!\\[[^]]*\\]\\(([^) ]*).*$" "\\1" target "${link}")
  list(APPEND linked "${target}")
endforeach()
set(installed ${INSTALLED})
foreach(images linked installed)
  list(REMOVE_DUPLICATES ${images})
  list(SORT ${images})
endforeach()
if(NOT linked)
  message(FATAL_ERROR "no image links found in ${README}")
endif()
set(not_installed ${linked})
list(REMOVE_ITEM not_installed ${installed})
set(not_linked ${installed})
list(REMOVE_ITEM not_linked ${linked})
if(not_installed OR not_linked)
  message(FATAL_ERROR "README's images and the install list differ:\n"
                      "  linked, not installed: ${not_installed}\n"
                      "  installed, not linked: ${not_linked}")
endif()
message(STATUS "README's images, all installed: ${linked}")
