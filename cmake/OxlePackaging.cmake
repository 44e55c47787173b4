# Installation components and the Debian packages built from them with CPack (scripts/package):
#   oxle          the application: oxle, oxle-share, oxle-tray, the reader plugin and everything under data/;
#   oxle-backend  the local backend server and its SQL, which users of a hosted backend do not need.
# Every install() rule without a COMPONENT belongs to the application; the backend's rules name theirs.
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME oxle)
set(OXLE_PACKAGE_MAINTAINER "oxle developers <developers@oxle.invalid>"
    CACHE STRING "Maintainer of the Debian packages (name <address>)")

# The newest release in the AppStream metainfo dates the packages' changelogs, so a release is written down once.
file(READ "${PROJECT_SOURCE_DIR}/data/org.oxle.Oxle.metainfo.xml" _metainfo)
string(REGEX MATCH "<release version=\"([^\"]+)\" date=\"([0-9-]+)\"" _release "${_metainfo}")
set(OXLE_RELEASE_VERSION "${CMAKE_MATCH_1}")
set(OXLE_RELEASE_DATE "${CMAKE_MATCH_2}")
if(NOT OXLE_RELEASE_VERSION STREQUAL PROJECT_VERSION)
  message(WARNING "data/org.oxle.Oxle.metainfo.xml has no <release> for ${PROJECT_VERSION} at the top "
                  "(newest: '${OXLE_RELEASE_VERSION}')")
endif()
execute_process(COMMAND date -u -R -d "${OXLE_RELEASE_DATE}" OUTPUT_VARIABLE OXLE_RELEASE_DATE_RFC2822
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _date_status)
if(NOT _date_status EQUAL 0)
  message(FATAL_ERROR "cannot read the release date '${OXLE_RELEASE_DATE}' of the metainfo")
endif()

# Compresses a (configured) text file at build time, for the places Debian wants them gzipped (manual pages,
# changelogs): maximum compression, no name or time stamp inside, so two builds give the same bytes.
#   oxle_install_gzipped(SOURCE TARGET DESTINATION COMPONENT [CONFIGURE])
function(oxle_install_gzipped source target destination component)
  cmake_parse_arguments(G "CONFIGURE" "" "" ${ARGN})
  get_filename_component(_name "${source}" NAME)
  string(REGEX REPLACE "\\.in$" "" _name "${_name}")
  set(_dir "${CMAKE_CURRENT_BINARY_DIR}/gzipped/${component}")
  set(_input "${source}")
  if(G_CONFIGURE)
    configure_file("${source}" "${_dir}/${_name}" @ONLY)
    set(_input "${_dir}/${_name}")
  endif()
  add_custom_command(OUTPUT "${_dir}/${_name}.gz"
                     COMMAND gzip -9nc "${_input}" > "${_dir}/${_name}.gz"
                     DEPENDS "${_input}" VERBATIM)
  target_sources(${target} PRIVATE "${_dir}/${_name}.gz")
  install(FILES "${_dir}/${_name}.gz" DESTINATION "${destination}" COMPONENT ${component})
endfunction()

# The Debian copyright file and changelog of one package.
function(oxle_install_package_docs package target component)
  set(OXLE_PACKAGE_NAME ${package})
  set(_docdir "${CMAKE_INSTALL_DATADIR}/doc/${package}")
  install(FILES "${PROJECT_SOURCE_DIR}/data/debian/copyright" DESTINATION "${_docdir}" COMPONENT ${component})
  set(_changelog "${CMAKE_CURRENT_BINARY_DIR}/debian-docs/${package}/changelog")
  configure_file("${PROJECT_SOURCE_DIR}/data/debian/changelog.in" "${_changelog}" @ONLY)
  oxle_install_gzipped("${_changelog}" ${target} "${_docdir}" ${component})
endfunction()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME oxle)
set(CPACK_PACKAGE_VENDOR "oxle developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${OXLE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OXLE_PACKAGE_MAINTAINER}")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL oxle)
if(OXLE_BUILD_BACKEND)
  list(APPEND CPACK_COMPONENTS_ALL backend)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# Depends comes from the libraries the programs load (dpkg-shlibdeps); nothing is listed by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# RelWithDebInfo trees are packaged too (the tests package build/): ship the programs without their symbols.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_OXLE_PACKAGE_NAME oxle)
set(CPACK_DEBIAN_OXLE_DESCRIPTION "reading list of links and notes, synchronised with your phone
oxle keeps a personal reading list of saved links and short notes,
synchronised through a hosted backend with the user's phone. Links are
cleaned of tracking parameters, classified (article, video, reel, podcast,
music) and saved only once; text that is not a link becomes a note.
.
It lives in the panel's tray, saves the browser's front tab or a link from
anywhere with a key, and comes with a command line (oxle) and a share
target (oxle-share).")

set(CPACK_DEBIAN_BACKEND_PACKAGE_NAME oxle-backend)
set(CPACK_DEBIAN_BACKEND_PACKAGE_SECTION httpd)
set(CPACK_DEBIAN_BACKEND_DESCRIPTION "local backend server for oxle, for development and tests
oxle-backend serves the REST interface and the sign-in service that oxle
talks to, over a PostgreSQL database, and fetches the titles and pictures
of saved links. Its sign-in asks for no password: it is meant for one
machine, not for a network. The SQL schema is in /usr/share/oxle-backend.
.
Users of a hosted backend do not need this package.")
# The server is useless without a PostgreSQL server to hold its data, which no library of it reveals (it links
# only the client library); a remote database serves as well, hence a recommendation.
set(CPACK_DEBIAN_BACKEND_PACKAGE_RECOMMENDS "postgresql (>= 15)")

include(CPack)
