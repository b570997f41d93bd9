# cmake -DGALLERY=path -DOUT=dir -P RunGallery.cmake: runs the gallery into a fresh folder and
# checks that it wrote non-empty PNG files for every component.
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${GALLERY} ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pexil-gallery failed: ${rc}")
endif()
foreach(name meter-minus5 meter-minus1.3 meter-0 meter-0.12 meter-plus5 shutter-idle
    shutter-pressed shutter-busy shutter-disabled iris-breathing iris-revealing overlay-card
    scrubber-first scrubber-last scrubber-focused scrubber-disabled controls icons)
  set(png ${OUT}/${name}.png)
  if(NOT EXISTS ${png})
    message(FATAL_ERROR "missing ${png}")
  endif()
  file(READ ${png} head LIMIT 8 HEX)
  file(SIZE ${png} size)
  if(NOT head STREQUAL "89504e470d0a1a0a" OR size LESS 500)
    message(FATAL_ERROR "${png} is not a PNG picture (${size} bytes)")
  endif()
endforeach()
