#include "stadium_text_arg.hpp"

#include <cstdio>
#include <string>

#include "py_ref.hpp"
#include "stadium/text.hpp"
#include "vexlo/stadium.hpp"

namespace vexlo::py {
namespace {

// Replaces the pending UnicodeEncodeError with the decoder's kind of message:
// the line, and the bytes up to and including the offending character on it.
void refuse_unencodable(PyObject* text) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return;
    const PendingError error = take_pending_error();
    PyObject* value = error.value.get();
    Py_ssize_t start = 0;
    if (value == nullptr || PyUnicodeEncodeError_GetStart(value, &start) != 0) return;
    Ref before(PyUnicode_Substring(text, 0, start));
    if (!before) return;
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(before.get(), &length);
    if (utf8 == nullptr) return;
    const std::string consumed = std::string(utf8, static_cast<std::size_t>(length)) + '?';
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(PyUnicode_ReadChar(text, start)));
    const std::string message = std::string(BAD_JSON_PREFIX) +
                                "text is not valid UTF-8: unpaired surrogate " + code +
                                stadium::position_suffix(consumed, consumed.size());
    PyErr_SetString(PyExc_ValueError, message.c_str());
}

}  // namespace

std::optional<std::string_view> stadium_text_arg(PyObject* text) {
    if (!PyUnicode_Check(text)) {
        PyErr_Format(PyExc_TypeError, "argument 'vxs': expected str, got '%s'", Py_TYPE(text)->tp_name);
        return std::nullopt;
    }
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &length);
    if (utf8 == nullptr) {
        refuse_unencodable(text);
        return std::nullopt;
    }
    return std::string_view(utf8, static_cast<std::size_t>(length));
}

}  // namespace vexlo::py
