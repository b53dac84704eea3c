# Turns a GeoJSON (Multi)Polygon into a C++ source of float pairs, one run of points per outer
# ring: cmake -DINPUT=outline.geojson -DOUTPUT=JapanOutlineData.cpp -P OutlineToSource.cmake
# A missing input gives an outline without rings (the pictures then leave the map out).
set(points "")
set(sizes "")
set(ring_count 0)
if(EXISTS "${INPUT}")
  file(READ "${INPUT}" geojson)
  string(JSON geometry_type GET "${geojson}" geometry type)
  string(JSON polygon_count LENGTH "${geojson}" geometry coordinates)
  math(EXPR last_polygon "${polygon_count} - 1")
  foreach(polygon RANGE ${last_polygon})
    if(geometry_type STREQUAL "MultiPolygon")
      string(JSON ring GET "${geojson}" geometry coordinates ${polygon} 0)
    elseif(polygon EQUAL 0)
      string(JSON ring GET "${geojson}" geometry coordinates 0)
    else()
      break()
    endif()
    # A thousandth of a degree (about 100 m) is finer than any picture draws.
    string(REGEX REPLACE "(\\.[0-9][0-9][0-9])[0-9]+" "\\1" ring "${ring}")
    string(REGEX MATCHALL "-?[0-9]+(\\.[0-9]+)?([eE]-?[0-9]+)?" numbers "${ring}")
    list(LENGTH numbers number_count)
    math(EXPR point_count "${number_count} / 2")
    list(JOIN numbers "," line)
    string(APPEND points "    ${line},\n")
    string(APPEND sizes "${point_count}, ")
    math(EXPR ring_count "${ring_count} + 1")
  endforeach()
else()
  message(WARNING "No coastline at ${INPUT}: the map of Japan is left out of the pictures.")
endif()
if(ring_count EQUAL 0)
  set(points "    0.0,\n")
  set(sizes "0, ")
endif()
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT} by cmake/OutlineToSource.cmake; do not edit.
#include \"windows/JapanOutlineData.h\"

namespace yubin::app::pictures {

namespace {
const float kPoints[] = {
${points}};
const int kRingSizes[] = {${sizes}};
}  // namespace

const OutlineData kJapanOutline{kPoints, kRingSizes, ${ring_count}};

}  // namespace yubin::app::pictures
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
