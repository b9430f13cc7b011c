# `package`: the release files in build/<preset>/dist/, built on demand.
#   qxKorvex.dll  the DLL, signed with Authenticode (osslsigncode)
#   qxKorvex.inf  the code-download INF, its FileVersion read from
#                 installer/resources/qxKorvex_version.h like the version block
#   qxKorvex.cab  a cabinet (gcab) of those two, signed
#   qxKorvex.msi  the administrators' package (wixl): the signed DLL in
#                 ProgramFilesFolder\qxKorvex and its registration as
#                 Registry rows generated from the registry script and the
#                 type library's IDL (cmake/msi/), signed
#   qxKorvex_user.msi  the per-user package: the same DLL in
#                 LocalAppDataFolder\Programs\qxKorvex and the same rows
#                 written into HKCU\Software\Classes, signed; a standard
#                 user installs it without elevation
#
# Signing takes QX_SIGNING_CERTIFICATE (PEM, the code-signing certificate and
# any intermediates) and QX_SIGNING_KEY (its PEM key). Left empty, the build
# makes a test certificate authority and a code-signing certificate
# signed by it, in build/<preset>/signing/, once per build tree. No time-stamp
# server is asked (the build works offline): the signing time is the
# source's date (QX_SOURCE_DATE_EPOCH, cmake/Widl.cmake), so one key signs
# the same files into the same bytes.
find_program(QX_OPENSSL openssl REQUIRED)
find_program(QX_OSSLSIGNCODE osslsigncode REQUIRED)
find_program(QX_GCAB gcab REQUIRED)
find_program(QX_TOUCH touch REQUIRED)
# Debian's msitools: wixl makes the MSI, msibuild and msiinfo set its
# package code (cmake/msi/package_code.py runs them by name).
find_program(QX_WIXL wixl REQUIRED)
find_program(QX_MSIBUILD msibuild REQUIRED)
find_program(QX_MSIINFO msiinfo REQUIRED)
if(NOT QX_FAKETIME)
  find_program(QX_FAKETIME faketime REQUIRED)
endif()

set(QX_SIGNING_CERTIFICATE "" CACHE FILEPATH
    "PEM code-signing certificate (and chain) for the package; empty: one from the build's test CA")
set(QX_SIGNING_KEY "" CACHE FILEPATH
    "PEM private key of QX_SIGNING_CERTIFICATE")

set(QX_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
set(QX_PACKAGE_WORK_DIR ${CMAKE_BINARY_DIR}/package)
set(QX_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)
set(QX_TEST_CA ${QX_SIGNING_DIR}/test-ca.pem)

# The test CA: keys made once, certificates dated from 2000 for a century
# (openssl runs at a fixed date), so a signature at any source date checks.
if(QX_SIGNING_CERTIFICATE STREQUAL "" AND QX_SIGNING_KEY STREQUAL "")
  set(QX_USING_TEST_CA TRUE)
  set(signing_certificate ${QX_SIGNING_DIR}/code-signing.pem)
  set(signing_key ${QX_SIGNING_DIR}/code-signing.key)
  set(dated_openssl ${CMAKE_COMMAND} -E env TZ=UTC
      ${QX_FAKETIME} -f "@2000-01-01 00:00:00" ${QX_OPENSSL})
  add_custom_command(
    OUTPUT ${QX_TEST_CA} ${signing_certificate} ${signing_key}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QX_SIGNING_DIR}
    COMMAND ${QX_OPENSSL} genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048
            -out ${QX_SIGNING_DIR}/test-ca.key
    COMMAND ${dated_openssl} req -x509 -new -sha256 -days 36500 -set_serial 1
            -key ${QX_SIGNING_DIR}/test-ca.key
            -subj "/O=qxKorvex build/CN=qxKorvex Test CA"
            -addext "basicConstraints=critical,CA:TRUE"
            -addext "keyUsage=critical,keyCertSign,cRLSign"
            -out ${QX_TEST_CA}
    COMMAND ${QX_OPENSSL} genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048
            -out ${signing_key}
    COMMAND ${QX_OPENSSL} req -new -sha256 -key ${signing_key}
            -subj "/O=qxKorvex build/CN=qxKorvex Test Code Signing"
            -addext "basicConstraints=critical,CA:FALSE"
            -addext "keyUsage=critical,digitalSignature"
            -addext "extendedKeyUsage=codeSigning"
            -out ${QX_SIGNING_DIR}/code-signing.csr
    COMMAND ${dated_openssl} x509 -req -sha256 -days 36500 -set_serial 2
            -in ${QX_SIGNING_DIR}/code-signing.csr -copy_extensions copy
            -CA ${QX_TEST_CA} -CAkey ${QX_SIGNING_DIR}/test-ca.key
            -out ${signing_certificate}
    COMMENT "openssl: the test CA and its code-signing certificate"
    VERBATIM)
elseif(QX_SIGNING_CERTIFICATE STREQUAL "" OR QX_SIGNING_KEY STREQUAL "")
  message(FATAL_ERROR "QX_SIGNING_CERTIFICATE and QX_SIGNING_KEY go together")
else()
  set(QX_USING_TEST_CA FALSE)
  set(signing_certificate ${QX_SIGNING_CERTIFICATE})
  set(signing_key ${QX_SIGNING_KEY})
endif()

# The package's date: the source's, but not before 2000 (a tree without its
# history has date 0, which a cabinet's DOS times cannot hold and which is
# before the test certificates).
set(package_epoch ${QX_SOURCE_DATE_EPOCH})
if(package_epoch LESS 946684800)
  set(package_epoch 946684800)
endif()
set(sign_command ${QX_OSSLSIGNCODE} sign -certs ${signing_certificate}
    -key ${signing_key} -h sha256 -n qxKorvex -time ${package_epoch})

# The INF, its version from the one header the version block reads.
set(version_header ${QX_RESOURCE_DIR}/qxKorvex_version.h)
set(version_numbers)
foreach(field MAJOR MINOR BUILD REVISION)
  file(STRINGS ${version_header} line REGEX "^#define QX_VERSION_${field} [0-9]+$")
  if(NOT line MATCHES " ([0-9]+)$")
    message(FATAL_ERROR "${version_header}: no QX_VERSION_${field}")
  endif()
  list(APPEND version_numbers ${CMAKE_MATCH_1})
endforeach()
list(JOIN version_numbers "," QX_VERSION_COMMAS)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${version_header} ${QX_RESOURCE_DIR}/qxKorvex.inf.in)
set(QX_INF ${QX_PACKAGE_WORK_DIR}/qxKorvex.inf)
configure_file(${QX_RESOURCE_DIR}/qxKorvex.inf.in ${QX_INF} @ONLY NEWLINE_STYLE CRLF)

set(cab_dir ${QX_PACKAGE_WORK_DIR}/cab)
add_custom_command(
  OUTPUT ${QX_DIST_DIR}/qxKorvex.dll ${QX_DIST_DIR}/qxKorvex.inf ${QX_DIST_DIR}/qxKorvex.cab
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${cab_dir}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QX_DIST_DIR} ${cab_dir}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${QX_DIST_DIR}/qxKorvex.dll ${QX_DIST_DIR}/qxKorvex.cab
  COMMAND ${sign_command} -in $<TARGET_FILE:qxKorvex> -out ${QX_DIST_DIR}/qxKorvex.dll
  COMMAND ${CMAKE_COMMAND} -E copy ${QX_INF} ${QX_DIST_DIR}/qxKorvex.inf
  COMMAND ${CMAKE_COMMAND} -E copy ${QX_DIST_DIR}/qxKorvex.dll ${QX_INF} ${cab_dir}
  # The cabinet records each file's time: the source's, in UTC.
  COMMAND ${QX_TOUCH} -d @${package_epoch} ${cab_dir}/qxKorvex.dll ${cab_dir}/qxKorvex.inf
  COMMAND ${CMAKE_COMMAND} -E chdir ${cab_dir} ${CMAKE_COMMAND} -E env TZ=UTC
          ${QX_GCAB} -c -z ${QX_PACKAGE_WORK_DIR}/qxKorvex.cab qxKorvex.dll qxKorvex.inf
  COMMAND ${sign_command} -in ${QX_PACKAGE_WORK_DIR}/qxKorvex.cab -out ${QX_DIST_DIR}/qxKorvex.cab
  DEPENDS qxKorvex ${QX_INF} ${signing_certificate} ${signing_key}
  BYPRODUCTS ${QX_PACKAGE_WORK_DIR}/qxKorvex.cab
  COMMENT "package: dist/qxKorvex.dll, qxKorvex.inf and qxKorvex.cab, signed"
  VERBATIM)

# The version as the installer writes it.
list(JOIN version_numbers "." version_dots)
# wixl writes the time it ran into the summary information and reads no
# SOURCE_DATE_EPOCH: it runs with the clock stopped at the package's date.
# The cabinet inside records the DLL's file time, set to that date too.
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${package_epoch})
string(TIMESTAMP package_date "%Y-%m-%d %H:%M:%S" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")

# One MSI, NAME.msi in dist/, from RESOURCE_DIR/NAME.wxs, which includes
# NAME_registry.wxi: the rows registry_wxi.py makes (with ROW_OPTIONS).
# Each package has a product code of its own per version (a name-based GUID
# of the version and SCOPE): a new version is a new product, which replaces
# the old one through the package's fixed upgrade code.
function(qx_msi name scope)
  set(row_options ${ARGN})
  set(registry ${msi_dir}/${name}_registry.wxi)
  add_custom_command(
    OUTPUT ${registry}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${msi_dir}
    COMMAND ${QX_PYTHON3} -B ${msi_tools}/registry_wxi.py
            --script ${QX_RESOURCE_DIR}/qxKorvex.rgs
            --idl ${CMAKE_SOURCE_DIR}/installer/qxKorvex.idl
            --file-key qxKorvex.dll --folder-property INSTALLDIR ${row_options}
            --output ${registry}
    DEPENDS ${QX_RESOURCE_DIR}/qxKorvex.rgs ${CMAKE_SOURCE_DIR}/installer/qxKorvex.idl
            ${msi_tools}/registry_wxi.py ${msi_tools}/registry_script.py
            ${msi_tools}/type_library_rows.py
    COMMENT "registry_wxi: ${name}.msi's registry rows from qxKorvex.rgs and qxKorvex.idl"
    VERBATIM)
  set(product_name "qxKorvex ${version_dots}")
  if(NOT scope STREQUAL "machine")
    string(APPEND product_name " ${scope}")
  endif()
  string(UUID product_code NAMESPACE E9A09AED-6D1A-45B3-BC2A-7AE124E24B36
         NAME "${product_name}" TYPE SHA1 UPPER)
  set(wxs ${QX_RESOURCE_DIR}/${name}.wxs)
  set(unsigned ${QX_PACKAGE_WORK_DIR}/${name}.msi)
  # Each package has its own copy of the DLL: two builds of the MSIs at
  # once must not touch one file.
  set(source ${msi_dir}/${name})
  add_custom_command(
    OUTPUT ${QX_DIST_DIR}/${name}.msi
    COMMAND ${CMAKE_COMMAND} -E rm -f ${QX_DIST_DIR}/${name}.msi ${unsigned}
            ${msi_dir}/${name}.wixl.msi
    COMMAND ${CMAKE_COMMAND} -E make_directory ${source}
    COMMAND ${CMAKE_COMMAND} -E copy ${QX_DIST_DIR}/qxKorvex.dll ${source}/qxKorvex.dll
    COMMAND ${QX_TOUCH} -d @${package_epoch} ${source}/qxKorvex.dll
    COMMAND ${CMAKE_COMMAND} -E chdir ${msi_dir} ${CMAKE_COMMAND} -E env TZ=UTC
            ${QX_FAKETIME} -f "${package_date}"
            ${QX_WIXL} -I ${msi_dir} -D Version=${version_dots}
            -D "ProductCode={${product_code}}" -D SourceDir=${name}
            -o ${name}.wixl.msi ${wxs}
    COMMAND ${QX_PYTHON3} -B ${msi_tools}/package_code.py ${msi_dir}/${name}.wixl.msi
            ${unsigned}
    COMMAND ${sign_command} -in ${unsigned} -out ${QX_DIST_DIR}/${name}.msi
    DEPENDS ${QX_DIST_DIR}/qxKorvex.dll ${wxs} ${registry}
            ${msi_tools}/package_code.py ${signing_certificate} ${signing_key}
    BYPRODUCTS ${unsigned} ${msi_dir}/${name}.wixl.msi ${source}/qxKorvex.dll
    COMMENT "package: dist/${name}.msi, signed"
    VERBATIM)
endfunction()

# The MSIs. Their rows are generated at build time from the registry script
# and the IDL, so that the script stays the one source of what is
# registered: the administrators' package writes them as the script says
# (HKCR, the machine's classes), the per-user one into the user's classes.
set(msi_dir ${QX_PACKAGE_WORK_DIR}/msi)
set(msi_tools ${CMAKE_SOURCE_DIR}/cmake/msi)
qx_msi(qxKorvex machine)
qx_msi(qxKorvex_user user --per-user)

add_custom_target(package DEPENDS ${QX_DIST_DIR}/qxKorvex.dll
                  ${QX_DIST_DIR}/qxKorvex.inf ${QX_DIST_DIR}/qxKorvex.cab
                  ${QX_DIST_DIR}/qxKorvex.msi ${QX_DIST_DIR}/qxKorvex_user.msi)

# The tests read what `package` made: scripts/test builds it before ctest.
set(package_check ${QX_PYTHON3} -B ${CMAKE_SOURCE_DIR}/tests/win32/check_package.py)
add_test(NAME win32.package_files
         COMMAND ${package_check} files ${QX_DIST_DIR} ${version_header})
# The generator of the MSI's registry rows, on scripts of its own.
add_test(NAME win32.msi_registry_rows
         COMMAND ${QX_PYTHON3} -B ${CMAKE_SOURCE_DIR}/tests/win32/check_registry_wxi.py
                 ${msi_tools}/registry_wxi.py)
if(QX_USING_TEST_CA)
  add_test(NAME win32.package_signatures
           COMMAND ${package_check} signatures ${QX_DIST_DIR} ${QX_TEST_CA})
endif()
