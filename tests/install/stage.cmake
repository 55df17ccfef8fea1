# cmake -DBUILD=DIR -DSTAGE=DIR -DPREFIX=/usr -P stage.cmake
# Installs the build twice under STAGE, as a user would: STAGE/panel gets a
# plain `cmake --install`, STAGE/full that plus the tools component.
file(REMOVE_RECURSE "${STAGE}")
function(install_into destdir)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "DESTDIR=${destdir}"
            ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${PREFIX}" ${ARGN}
    COMMAND_ERROR_IS_FATAL ANY)
endfunction()
install_into("${STAGE}/panel")
install_into("${STAGE}/full")
install_into("${STAGE}/full" --component tools)
