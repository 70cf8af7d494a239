# The SQLite amalgamation comes from the npm package that ships it; it is unpacked into the
# build tree at configure time and never committed.
set(SQLITE_PACKAGE better-sqlite3@12.11.1)
set(SQLITE_DIR ${CMAKE_BINARY_DIR}/deps/sqlite3)
if(NOT EXISTS ${SQLITE_DIR}/sqlite3.c OR NOT EXISTS ${SQLITE_DIR}/sqlite3.h)
  find_program(NPM npm)
  if(NOT NPM)
    message(FATAL_ERROR "npm is needed to fetch ${SQLITE_PACKAGE} (SQLite sources); run scripts/setup.sh")
  endif()
  set(pack_dir ${CMAKE_BINARY_DIR}/deps/pack)
  file(REMOVE_RECURSE ${pack_dir})
  file(MAKE_DIRECTORY ${pack_dir})
  execute_process(COMMAND ${NPM} pack ${SQLITE_PACKAGE} --silent
                  WORKING_DIRECTORY ${pack_dir}
                  RESULT_VARIABLE npm_rc OUTPUT_VARIABLE npm_out ERROR_VARIABLE npm_err)
  file(GLOB tarball ${pack_dir}/*.tgz)
  if(NOT npm_rc EQUAL 0 OR NOT tarball)
    message(FATAL_ERROR "npm pack ${SQLITE_PACKAGE} failed (${npm_rc}): ${npm_err}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xzf ${tarball}
                          package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h
                  WORKING_DIRECTORY ${pack_dir} RESULT_VARIABLE tar_rc)
  if(NOT tar_rc EQUAL 0 OR NOT EXISTS ${pack_dir}/package/deps/sqlite3/sqlite3.c)
    message(FATAL_ERROR "${SQLITE_PACKAGE} holds no deps/sqlite3/sqlite3.c")
  endif()
  file(MAKE_DIRECTORY ${SQLITE_DIR})
  file(COPY ${pack_dir}/package/deps/sqlite3/sqlite3.c ${pack_dir}/package/deps/sqlite3/sqlite3.h
       DESTINATION ${SQLITE_DIR})
  file(REMOVE_RECURSE ${pack_dir})
endif()
add_library(sqlite3 STATIC ${SQLITE_DIR}/sqlite3.c)
target_include_directories(sqlite3 PUBLIC ${SQLITE_DIR})
target_compile_definitions(sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DEFAULT_FOREIGN_KEYS=0)
set_source_files_properties(${SQLITE_DIR}/sqlite3.c PROPERTIES COMPILE_OPTIONS "-O2;-w")
