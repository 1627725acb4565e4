# Constant tables of the standard test waveforms and the noise records, and the synthesis
# modules that use them (ECG complexes, standard waveforms, reference data).
#
# At build time tolvan_data_generator converts the reference records below TOLVAN_DATA_DIR
# (aami-ec13/, nstdb/, cts/) into one blob in the build directory, which the library embeds with
# the assembler's .incbin. Tables whose records are absent are left out; the library then loads
# them at run time from the directory named by the environment variable TOLVAN_DATA_DIR.
include_guard(GLOBAL)

set(_tolvan_data_default "")
if(EXISTS "${PROJECT_SOURCE_DIR}/../shared/data")
  get_filename_component(_tolvan_data_default "${PROJECT_SOURCE_DIR}/../shared/data" ABSOLUTE)
endif()
set(TOLVAN_DATA_DIR "${_tolvan_data_default}" CACHE PATH
    "Directory of the reference records built into the library (aami-ec13/, nstdb/, cts/)")

set(_tolvan_syn ${PROJECT_SOURCE_DIR}/src/synthesis)
target_sources(tolvan_obj PRIVATE
  ${_tolvan_syn}/EcgComplex.cpp
  ${_tolvan_syn}/ReferenceData.cpp
  ${_tolvan_syn}/ReferenceRecords.cpp
  ${_tolvan_syn}/StandardWaveforms.cpp)

# The generator runs on the build machine. A native build makes it from the sources below (it
# links the WFDB reader and the platform's text and file utilities only); a cross build takes a
# generator built for the build machine beforehand (scripts/cross.sh), named by
# TOLVAN_HOST_DATA_GENERATOR.
set(TOLVAN_HOST_DATA_GENERATOR "" CACHE FILEPATH
    "Data generator built for the build machine (required when cross-compiling)")
if(CMAKE_CROSSCOMPILING)
  if(NOT TOLVAN_HOST_DATA_GENERATOR)
    message(FATAL_ERROR "A cross build needs -DTOLVAN_HOST_DATA_GENERATOR=<generator built for "
                        "the build machine> (scripts/cross.sh builds one)")
  endif()
  add_executable(tolvan_data_generator IMPORTED GLOBAL)
  set_target_properties(tolvan_data_generator PROPERTIES
    IMPORTED_LOCATION ${TOLVAN_HOST_DATA_GENERATOR})
  set(_tolvan_generator_command ${TOLVAN_HOST_DATA_GENERATOR})
  set(_tolvan_generator_depends ${TOLVAN_HOST_DATA_GENERATOR})
else()
  if(TOLVAN_PLATFORM STREQUAL "windows")
    set(_tolvan_file_variant file_windows.cpp)
  else()
    set(_tolvan_file_variant file_posix.cpp)
  endif()
  add_executable(tolvan_data_generator
    ${PROJECT_SOURCE_DIR}/tools/data-generator/main.cpp
    ${_tolvan_syn}/ReferenceRecords.cpp
    ${PROJECT_SOURCE_DIR}/src/recordings/Wfdb.cpp
    ${PROJECT_SOURCE_DIR}/src/recordings/FileReading.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/Text.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/${_tolvan_file_variant})
  target_include_directories(tolvan_data_generator PRIVATE ${PROJECT_SOURCE_DIR}/src)
  set(_tolvan_generator_command tolvan_data_generator)
  set(_tolvan_generator_depends tolvan_data_generator)
endif()

set(_tolvan_data_inputs "")
if(TOLVAN_DATA_DIR)
  file(GLOB_RECURSE _tolvan_data_inputs CONFIGURE_DEPENDS
    "${TOLVAN_DATA_DIR}/aami-ec13/*" "${TOLVAN_DATA_DIR}/nstdb/*" "${TOLVAN_DATA_DIR}/cts/*")
endif()

# Rewritten only when the directory changes, so that choosing another one regenerates the blob.
set(_tolvan_data_stamp ${CMAKE_BINARY_DIR}/generated/tolvan_data_dir.txt)
file(CONFIGURE OUTPUT ${_tolvan_data_stamp} CONTENT "${TOLVAN_DATA_DIR}\n")

set(TOLVAN_TABLES_BLOB ${CMAKE_BINARY_DIR}/generated/tolvan_tables.bin)
add_custom_command(OUTPUT ${TOLVAN_TABLES_BLOB}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND ${_tolvan_generator_command} "${TOLVAN_DATA_DIR}" ${TOLVAN_TABLES_BLOB}
  DEPENDS ${_tolvan_generator_depends} ${_tolvan_data_stamp} ${_tolvan_data_inputs}
  COMMENT "Converting the reference records into the constant tables"
  VERBATIM)
add_custom_target(tolvan_tables DEPENDS ${TOLVAN_TABLES_BLOB})
add_dependencies(tolvan_obj tolvan_tables)

set(_tolvan_blob_source ${CMAKE_BINARY_DIR}/generated/TablesBlob.cpp)
configure_file(${PROJECT_SOURCE_DIR}/tools/data-generator/TablesBlob.cpp.in
  ${_tolvan_blob_source} @ONLY)
target_sources(tolvan_obj PRIVATE ${_tolvan_blob_source})
set_source_files_properties(${_tolvan_blob_source} TARGET_DIRECTORY tolvan_obj
  PROPERTIES OBJECT_DEPENDS ${TOLVAN_TABLES_BLOB})
