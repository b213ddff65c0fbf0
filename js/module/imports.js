// The functions the library's WebAssembly build imports for its files (src/base/file_system_js.cpp,
// src/write/output_file_js.cpp) and its host layer's look at them (host/platform_js.c): each hands
// its arguments on, as bytes, to the Files object that the package gives the module as
// `kelvaneFiles` (js/files.js), and none throws into the library.
// Linked into js/kelvane.mjs by scripts/wasm-build.sh (--js-library).
mergeInto(LibraryManager.library, {
  $kelvaneBytes: function (pointer) {
    return HEAPU8.slice(pointer, HEAPU8.indexOf(0, pointer));
  },
  kelvane_js_open_input__deps: ["$kelvaneBytes"],
  kelvane_js_open_input: function (path) {
    try {
      return Module["kelvaneFiles"].openInput(kelvaneBytes(path));
    } catch (error) {
      return -1;
    }
  },
  kelvane_js_input_size: function (handle) {
    try {
      return Module["kelvaneFiles"].inputSize(handle);
    } catch (error) {
      return -1;
    }
  },
  kelvane_js_read_input: function (handle, buffer, size) {
    try {
      return Module["kelvaneFiles"].readInput(handle, HEAPU8.subarray(buffer, buffer + size));
    } catch (error) {
      return -1;
    }
  },
  kelvane_js_close_input: function (handle) {
    try {
      Module["kelvaneFiles"].closeInput(handle);
    } catch (error) {}
  },
  kelvane_js_write_output__deps: ["$kelvaneBytes"],
  kelvane_js_write_output: function (path, data, size) {
    try {
      return Module["kelvaneFiles"].writeOutput(kelvaneBytes(path), HEAPU8.subarray(data, data + size));
    } catch (error) {
      return 0;
    }
  },
  kelvane_js_look__deps: ["$kelvaneBytes"],
  kelvane_js_look: function (path, facts) {
    try {
      Module["kelvaneFiles"].look(kelvaneBytes(path), HEAP32.subarray(facts >> 2, (facts >> 2) + 8));
    } catch (error) {}
  },
  kelvane_js_read_start__deps: ["$kelvaneBytes"],
  kelvane_js_read_start: function (path, buffer, size) {
    try {
      return Module["kelvaneFiles"].readStart(kelvaneBytes(path), HEAPU8.subarray(buffer, buffer + size));
    } catch (error) {
      return 0;
    }
  },
});
