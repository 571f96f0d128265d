# parlatto_skin_archive(TARGET target SKIN_DIR dir)
# Packs every file under SKIN_DIR into one ZIP at build time, entry names relative to SKIN_DIR
# ("main.xml", "images/x.png"), and links the bytes into TARGET as kParlattoSkinZip /
# kParlattoSkinZipSize (declared in skinui/skin_archive.h). Adding or removing a skin file
# re-runs the configure step by itself; editing one rebuilds the archive.

set(PARLATTO_EMBED_FILE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/EmbedFile.cmake)

function(parlatto_skin_archive)
    cmake_parse_arguments(ARG "" "TARGET;SKIN_DIR" "" ${ARGN})
    if(NOT ARG_TARGET OR NOT ARG_SKIN_DIR)
        message(FATAL_ERROR "parlatto_skin_archive: TARGET and SKIN_DIR are required")
    endif()
    if(NOT TARGET ${ARG_TARGET})
        message(FATAL_ERROR "parlatto_skin_archive: ${ARG_TARGET} is not a target")
    endif()
    get_filename_component(skin_dir "${ARG_SKIN_DIR}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    if(NOT IS_DIRECTORY "${skin_dir}")
        message(FATAL_ERROR "parlatto_skin_archive: ${skin_dir} is not a folder")
    endif()

    file(GLOB_RECURSE relative_files CONFIGURE_DEPENDS LIST_DIRECTORIES false RELATIVE "${skin_dir}"
         "${skin_dir}/*")
    # Sorted, so that the archive's order does not follow the file system's.
    list(SORT relative_files)
    set(absolute_files "")
    foreach(file IN LISTS relative_files)
        list(APPEND absolute_files "${skin_dir}/${file}")
    endforeach()
    if(NOT relative_files)
        message(WARNING "parlatto_skin_archive: ${skin_dir} holds no files; the archive is empty")
    endif()

    set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/${ARG_TARGET}_skin)
    set(zip ${out_dir}/skin.zip)
    set(source ${out_dir}/skin_zip.cpp)
    add_custom_command(
        OUTPUT ${zip} ${source}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
        # Without a UTF-8 locale tar cannot read non-ASCII names; "--" keeps a file named like an
        # option from being read as one.
        COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip --
                ${relative_files}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${zip} -DOUTPUT=${source} -DNAME=kParlattoSkinZip
                -P ${PARLATTO_EMBED_FILE_SCRIPT}
        WORKING_DIRECTORY ${skin_dir}
        DEPENDS ${absolute_files} ${PARLATTO_EMBED_FILE_SCRIPT}
        COMMENT "Packing the skin files of ${ARG_TARGET}"
        VERBATIM)
    # The custom target lets the function be called from another folder than the target's.
    add_custom_target(${ARG_TARGET}_skin_archive DEPENDS ${source})
    add_dependencies(${ARG_TARGET} ${ARG_TARGET}_skin_archive)
    target_sources(${ARG_TARGET} PRIVATE ${source})
endfunction()
