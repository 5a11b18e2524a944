# Builds the browser extension into OUT: the manifest with the program's version, the service worker, and the
# page media script of src/native (SCRIPT) turned into the function the service worker injects, with the
# digest of its body that Sonaric checks before it asks the extension to run it.
# cmake -DSOURCE=<extension folder> -DSCRIPT=<page_media_script.js> -DOUT=<folder> -DVERSION=<x.y.z> -P this file
cmake_minimum_required(VERSION 3.24)

file(MAKE_DIRECTORY "${OUT}")
file(READ "${SOURCE}/manifest.json" manifest)
string(REPLACE "@SONARIC_EXTENSION_VERSION@" "${VERSION}" manifest "${manifest}")
file(WRITE "${OUT}/manifest.json.tmp" "${manifest}")
file(COPY_FILE "${OUT}/manifest.json.tmp" "${OUT}/manifest.json" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}/manifest.json.tmp")
file(COPY_FILE "${SOURCE}/background.js" "${OUT}/background.js" ONLY_IF_DIFFERENT)

# The script starts with a fixed head; its body runs from the "};" that closes `want` to the closing "})()".
file(READ "${SCRIPT}" text)
set(head "(() => {\n    const pageWorld = false;\n    const want = {")
string(LENGTH "${head}" headLength)
string(SUBSTRING "${text}" 0 ${headLength} start)
if(NOT start STREQUAL head)
    message(FATAL_ERROR "${SCRIPT} does not start with the page script's head")
endif()
string(SUBSTRING "${text}" ${headLength} -1 body)
string(REGEX REPLACE "\n+$" "" body "${body}")
string(SHA256 digest "${body}")
string(LENGTH "${body}" bodyLength)
# "};\n" in front and "})()" at the end go: what is left is the function's own body.
math(EXPR innerLength "${bodyLength} - 3 - 4")
string(SUBSTRING "${body}" 3 ${innerLength} inner)
math(EXPR tailStart "${bodyLength} - 4")
string(SUBSTRING "${body}" 0 3 opening)
string(SUBSTRING "${body}" ${tailStart} 4 closing)
if(NOT opening STREQUAL "};\n" OR NOT closing STREQUAL "})()")
    message(FATAL_ERROR "${SCRIPT}: the body is not where the page script keeps it")
endif()
file(WRITE "${OUT}/page_media_script.js.tmp"
    "// Built from src/native/page_media_script.js: the same body, as a function of the two values Sonaric sends.\n"
    "export const pageMediaScriptDigest = '${digest}';\n"
    "export function pageMediaScript(pageWorld, want) {\n"
    "${inner}}\n")
file(COPY_FILE "${OUT}/page_media_script.js.tmp" "${OUT}/page_media_script.js" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}/page_media_script.js.tmp")
