# Reading the built-in key at configure time (cmake/PublicKey.cmake).
#   cmake -DSOURCE_DIR=<source tree> -DGENERATOR=<generator> -P public_key_test.cmake
# First the reader on each good and bad key file, then a few configures of a
# tiny project (tests/security/public_key_project): the fatal error, the
# development-key warning, the generated header, and the re-configure when
# the key file changes. Their folder, under the system's temporary folder,
# is removed at the end whatever happened.
cmake_minimum_required(VERSION 3.20)
include(${SOURCE_DIR}/cmake/PublicKey.cmake)

set(keys ${SOURCE_DIR}/tests/security/keys)
set(development_modulus "acf2301dea4d3e58509873fc2d0edd35113eb46e73003c0aa3e387f764f83f4359745fe29cf261b64a30dabdd168dcd91b3dbbdeab668472be49da02d342b54aa86266dd83b814fb1f1c4e17f3a03dc12c7d595deb8708a2c6474bf5cb48dbf761d14f0ed7323a6826e9a3cce373697d37f252a2146c51fbdf69e4d921159f3dec55ba59cd191340ec64061d0ec6dbacc451d636471c555867dd19fbf0d09bd52c549341d11d358343cb653a0eca5d5534218da5cbe9fc56c153d264fb27f5e00725f7e8b17ce027014275935a9c8b883c3b3294cfd6dd366931c7fddf47b1ebd6da3f6f15a13ae8e2024ae95eca2d38c2a2c83ea87487241bedc8ac96376d67")
set(other_modulus "9aedbe1e65e8e99e0b8106294a68605c65195f66b449ae3fd336378e325bfd04e7ac2ddc67e840ecb8c1cc3577ba9cbb55ceb9021338ab2b83019913374877ccae15e2fed604a9423f12fb9b35f770cce225c27fa569f2c245354233364a0811d56b2d7d7bf001f1f48235be45f635a01d27ec94152d2c113e097dd1baca6626d87eb36f6e350554bfffa6489a5140bb49201ea5be04658b2b2b90fb8916efde9dd847aaafae97e6cb5dd9ddc35ea624c79fab69847aefcafce03f3ea7cddfc189619a1c4d7752deb7b93d8e6e9279996274815de61559fed18372c7476e35515ffa83caf88a8cb994237cbc6d3f2a7dace4c653d87398275fe4cd780b3ebca1")
set(failures "")

function(expect_modulus file expected)
  vorneth_read_public_key("${file}" modulus error)
  if(error OR NOT modulus STREQUAL expected)
    set(failures "${failures}\n${file}: modulus ${modulus}, error '${error}'" PARENT_SCOPE)
  endif()
endfunction()

function(expect_error file pattern)
  vorneth_read_public_key("${file}" modulus error)
  if(NOT error MATCHES "${pattern}" OR NOT modulus STREQUAL "")
    set(failures "${failures}\n${file}: error '${error}' does not match '${pattern}'" PARENT_SCOPE)
  endif()
endfunction()

expect_modulus(${SOURCE_DIR}/keys/development-public.pem ${development_modulus})
expect_modulus(${keys}/development-rsa-form.pem ${development_modulus})
expect_modulus(${keys}/other-2048-rsa-form.pem ${other_modulus})
expect_error(${keys}/missing.pem "^no such file$")
expect_error(${keys} "^no such file$")
expect_error(${keys}/rsa-1024.pem "not 2048 bits long \\(about 1024 bits\\)")
expect_error(${keys}/rsa-2048-exponent-3.pem "exponent is not 65537 \\(hex 03\\)")
expect_error(${keys}/ec-p256.pem "^not an RSA key")
expect_error(${keys}/truncated.pem "ends early")
expect_error(${keys}/not-base64.pem "not Base64")
expect_error(${SOURCE_DIR}/tests/keys/development-private.pem "no \"BEGIN PUBLIC KEY\"")

# Configures of the tiny project; `configure` leaves the output and the exit
# code in <name>_output and <name>_result.
set(project ${SOURCE_DIR}/tests/security/public_key_project)
macro(configure name key)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${project} -B ${scratch}/${name} -G ${GENERATOR}
    -DVORNETH_SOURCE_DIR=${SOURCE_DIR} -DVORNETH_PUBLIC_KEY=${key}
    RESULT_VARIABLE ${name}_result OUTPUT_VARIABLE ${name}_output ERROR_VARIABLE ${name}_output)
  string(REGEX REPLACE "[ \n]+" " " ${name}_output "${${name}_output}")
endmacro()
macro(fail what)
  string(APPEND failures "\n${what}")
endmacro()

# A folder of its own under the system's temporary folder.
set(temporary "$ENV{TMPDIR}")
if(NOT temporary)
  set(temporary /tmp)
endif()
string(RANDOM LENGTH 16 name)
set(scratch ${temporary}/vorneth_public_key_${name})
file(MAKE_DIRECTORY ${scratch})

configure(bad ${keys}/rsa-1024.pem)
if(bad_result EQUAL 0)
  fail("a 1024-bit key configured")
endif()
if(NOT bad_output MATCHES "VORNETH_PUBLIC_KEY \\([^)]*rsa-1024.pem\\): the RSA modulus is not 2048 bits")
  fail("no clear message: ${bad_output}")
endif()
if(EXISTS ${scratch}/bad/generated/vorneth_public_key.h)
  fail("a header from a bad key")
endif()

# The development key under another name, outside the source tree: still
# recognised by its modulus.
file(COPY_FILE ${SOURCE_DIR}/keys/development-public.pem ${scratch}/copy.pem)
configure(development ${scratch}/copy.pem)
if(NOT development_result EQUAL 0)
  fail("the development key failed: ${development_output}")
endif()
if(NOT development_output MATCHES "CMake Warning.*DEVELOPMENT signing key.*ANYONE can sign")
  fail("no warning for the development key: ${development_output}")
endif()
file(READ ${scratch}/development/generated/vorneth_public_key.h header)
string(FIND "${header}" "kPublicKeyModulusHex[] = \"${development_modulus}\";" at)
if(at LESS 0)
  fail("header: ${header}")
endif()

# Another key in the same file: the next build configures again, without
# the warning, and the header follows.
file(COPY_FILE ${keys}/other-2048-rsa-form.pem ${scratch}/copy.pem)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${scratch}/development
  RESULT_VARIABLE rebuild_result OUTPUT_VARIABLE rebuild_output ERROR_VARIABLE rebuild_output)
if(NOT rebuild_result EQUAL 0 OR rebuild_output MATCHES "DEVELOPMENT")
  fail("the rebuild after the key changed: ${rebuild_output}")
endif()
file(READ ${scratch}/development/generated/vorneth_public_key.h header)
string(FIND "${header}" "kPublicKeyModulusHex[] = \"${other_modulus}\";" at)
if(at LESS 0)
  fail("header after the key changed: ${header}")
endif()

file(REMOVE_RECURSE ${scratch})
if(failures)
  message(FATAL_ERROR "public key checks failed:${failures}")
endif()
message(STATUS "public key checks passed")
