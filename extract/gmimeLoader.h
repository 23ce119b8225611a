#pragma once

// GMime, loaded when the first mail is read rather than when the program
// starts: loading it brings GLib, GObject, GIO and a dozen more libraries,
// which would cost every run a few milliseconds, mail or not.
//
// Included by extract/mailSource.cpp in place of <gmime/gmime.h>: every GMime
// and GLib function that file calls is named below and turned into a call
// through the table loaded at first use, so the file reads as plain GMime
// code. A function missing from the list is a link error (GMime is not
// linked), never a silent fallback.

#include <gmime/gmime.h>

#include <string>

#define QUILLON_GMIME_FUNCTIONS(X)                                                                                     \
    X(g_ascii_strcasecmp)                                                                                              \
    X(g_byte_array_new_take)                                                                                           \
    X(g_byte_array_steal)                                                                                              \
    X(g_byte_array_unref)                                                                                              \
    X(g_free)                                                                                                          \
    X(g_object_unref)                                                                                                  \
    X(g_type_check_instance_is_a)                                                                                      \
    X(g_mime_content_type_get_media_type)                                                                              \
    X(g_mime_content_type_is_type)                                                                                     \
    X(g_mime_data_wrapper_get_encoding)                                                                                \
    X(g_mime_data_wrapper_get_stream)                                                                                  \
    X(g_mime_encoding_flush)                                                                                           \
    X(g_mime_encoding_init_decode)                                                                                     \
    X(g_mime_encoding_outlen)                                                                                          \
    X(g_mime_encoding_step)                                                                                            \
    X(g_mime_iconv_close)                                                                                              \
    X(g_mime_iconv_open)                                                                                               \
    X(g_mime_init)                                                                                                     \
    X(g_mime_message_get_mime_part)                                                                                    \
    X(g_mime_message_part_get_message)                                                                                 \
    X(g_mime_message_part_get_type)                                                                                    \
    X(g_mime_multipart_get_count)                                                                                      \
    X(g_mime_multipart_get_part)                                                                                       \
    X(g_mime_multipart_get_type)                                                                                       \
    X(g_mime_object_get_content_type)                                                                                  \
    X(g_mime_object_get_content_type_parameter)                                                                        \
    X(g_mime_object_get_headers)                                                                                       \
    X(g_mime_parser_construct_message)                                                                                 \
    X(g_mime_parser_construct_part)                                                                                    \
    X(g_mime_parser_init_with_stream)                                                                                  \
    X(g_mime_parser_new)                                                                                               \
    X(g_mime_parser_new_with_stream)                                                                                   \
    X(g_mime_parser_options_free)                                                                                      \
    X(g_mime_parser_options_new)                                                                                       \
    X(g_mime_parser_options_set_warning_callback)                                                                      \
    X(g_mime_parser_set_format)                                                                                        \
    X(g_mime_parser_set_persist_stream)                                                                                \
    X(g_mime_part_get_content)                                                                                         \
    X(g_mime_part_get_filename)                                                                                        \
    X(g_mime_part_get_type)                                                                                            \
    X(g_mime_stream_fs_new)                                                                                            \
    X(g_mime_stream_length)                                                                                            \
    X(g_mime_stream_mem_new)                                                                                           \
    X(g_mime_stream_mem_new_with_buffer)                                                                               \
    X(g_mime_stream_mem_new_with_byte_array)                                                                           \
    X(g_mime_stream_mem_set_owner)                                                                                     \
    X(g_mime_stream_read)                                                                                              \
    X(g_mime_stream_reset)                                                                                             \
    X(g_mime_stream_seek)                                                                                              \
    X(g_mime_stream_substream)                                                                                         \
    X(g_mime_stream_tell)                                                                                              \
    X(g_mime_utils_decode_message_id)                                                                                  \
    X(g_mime_utils_header_decode_text)                                                                                 \
    X(g_mime_utils_header_unfold)

namespace quillon::gmimeLoader {

struct Functions {
#define QUILLON_GMIME_MEMBER(name) decltype(&::name) name = nullptr;
    QUILLON_GMIME_FUNCTIONS(QUILLON_GMIME_MEMBER)
#undef QUILLON_GMIME_MEMBER
};

// Loads GMime (once, from any thread) and finds every function of the list.
// Throws std::runtime_error, with the loader's words, when the library or one
// of its functions cannot be found.
const Functions& load();

// Whether load() succeeds: the first call tries, later calls remember. Never
// throws.
bool available() noexcept;

// The loader's words when available() found GMime missing; empty otherwise,
// and before anything asked for it (this never loads it).
std::string failure();

// For tests: available() answers false, as where GMime is missing, until
// called again with false.
void pretendMissing(bool missing);

// The table, loaded at the first call.
inline const Functions& functions() {
    static const Functions& table = load();
    return table;
}

} // namespace quillon::gmimeLoader

#ifndef QUILLON_GMIME_NO_MACROS
// From here on each listed name is a call through the table. A function-like
// use such as g_free(p) reads as (table.g_free)(p); GMime's own macros
// (GMIME_IS_PART and the like) expand to these names and so go the same way.
#define g_ascii_strcasecmp (::quillon::gmimeLoader::functions().g_ascii_strcasecmp)
#define g_byte_array_new_take (::quillon::gmimeLoader::functions().g_byte_array_new_take)
#define g_byte_array_steal (::quillon::gmimeLoader::functions().g_byte_array_steal)
#define g_byte_array_unref (::quillon::gmimeLoader::functions().g_byte_array_unref)
#define g_free (::quillon::gmimeLoader::functions().g_free)
#define g_object_unref (::quillon::gmimeLoader::functions().g_object_unref)
#define g_type_check_instance_is_a (::quillon::gmimeLoader::functions().g_type_check_instance_is_a)
#define g_mime_content_type_get_media_type (::quillon::gmimeLoader::functions().g_mime_content_type_get_media_type)
#define g_mime_content_type_is_type (::quillon::gmimeLoader::functions().g_mime_content_type_is_type)
#define g_mime_data_wrapper_get_encoding (::quillon::gmimeLoader::functions().g_mime_data_wrapper_get_encoding)
#define g_mime_data_wrapper_get_stream (::quillon::gmimeLoader::functions().g_mime_data_wrapper_get_stream)
#define g_mime_encoding_flush (::quillon::gmimeLoader::functions().g_mime_encoding_flush)
#define g_mime_encoding_init_decode (::quillon::gmimeLoader::functions().g_mime_encoding_init_decode)
#define g_mime_encoding_outlen (::quillon::gmimeLoader::functions().g_mime_encoding_outlen)
#define g_mime_encoding_step (::quillon::gmimeLoader::functions().g_mime_encoding_step)
#define g_mime_iconv_close (::quillon::gmimeLoader::functions().g_mime_iconv_close)
#define g_mime_iconv_open (::quillon::gmimeLoader::functions().g_mime_iconv_open)
#define g_mime_init (::quillon::gmimeLoader::functions().g_mime_init)
#define g_mime_message_get_mime_part (::quillon::gmimeLoader::functions().g_mime_message_get_mime_part)
#define g_mime_message_part_get_message (::quillon::gmimeLoader::functions().g_mime_message_part_get_message)
#define g_mime_message_part_get_type (::quillon::gmimeLoader::functions().g_mime_message_part_get_type)
#define g_mime_multipart_get_count (::quillon::gmimeLoader::functions().g_mime_multipart_get_count)
#define g_mime_multipart_get_part (::quillon::gmimeLoader::functions().g_mime_multipart_get_part)
#define g_mime_multipart_get_type (::quillon::gmimeLoader::functions().g_mime_multipart_get_type)
#define g_mime_object_get_content_type (::quillon::gmimeLoader::functions().g_mime_object_get_content_type)
#define g_mime_object_get_content_type_parameter                                                                       \
    (::quillon::gmimeLoader::functions().g_mime_object_get_content_type_parameter)
#define g_mime_object_get_headers (::quillon::gmimeLoader::functions().g_mime_object_get_headers)
#define g_mime_parser_construct_message (::quillon::gmimeLoader::functions().g_mime_parser_construct_message)
#define g_mime_parser_construct_part (::quillon::gmimeLoader::functions().g_mime_parser_construct_part)
#define g_mime_parser_init_with_stream (::quillon::gmimeLoader::functions().g_mime_parser_init_with_stream)
#define g_mime_parser_new (::quillon::gmimeLoader::functions().g_mime_parser_new)
#define g_mime_parser_new_with_stream (::quillon::gmimeLoader::functions().g_mime_parser_new_with_stream)
#define g_mime_parser_options_free (::quillon::gmimeLoader::functions().g_mime_parser_options_free)
#define g_mime_parser_options_new (::quillon::gmimeLoader::functions().g_mime_parser_options_new)
#define g_mime_parser_options_set_warning_callback                                                                     \
    (::quillon::gmimeLoader::functions().g_mime_parser_options_set_warning_callback)
#define g_mime_parser_set_format (::quillon::gmimeLoader::functions().g_mime_parser_set_format)
#define g_mime_parser_set_persist_stream (::quillon::gmimeLoader::functions().g_mime_parser_set_persist_stream)
#define g_mime_part_get_content (::quillon::gmimeLoader::functions().g_mime_part_get_content)
#define g_mime_part_get_filename (::quillon::gmimeLoader::functions().g_mime_part_get_filename)
#define g_mime_part_get_type (::quillon::gmimeLoader::functions().g_mime_part_get_type)
#define g_mime_stream_fs_new (::quillon::gmimeLoader::functions().g_mime_stream_fs_new)
#define g_mime_stream_length (::quillon::gmimeLoader::functions().g_mime_stream_length)
#define g_mime_stream_mem_new (::quillon::gmimeLoader::functions().g_mime_stream_mem_new)
#define g_mime_stream_mem_new_with_buffer (::quillon::gmimeLoader::functions().g_mime_stream_mem_new_with_buffer)
#define g_mime_stream_mem_new_with_byte_array                                                                          \
    (::quillon::gmimeLoader::functions().g_mime_stream_mem_new_with_byte_array)
#define g_mime_stream_mem_set_owner (::quillon::gmimeLoader::functions().g_mime_stream_mem_set_owner)
#define g_mime_stream_read (::quillon::gmimeLoader::functions().g_mime_stream_read)
#define g_mime_stream_reset (::quillon::gmimeLoader::functions().g_mime_stream_reset)
#define g_mime_stream_seek (::quillon::gmimeLoader::functions().g_mime_stream_seek)
#define g_mime_stream_substream (::quillon::gmimeLoader::functions().g_mime_stream_substream)
#define g_mime_stream_tell (::quillon::gmimeLoader::functions().g_mime_stream_tell)
#define g_mime_utils_decode_message_id (::quillon::gmimeLoader::functions().g_mime_utils_decode_message_id)
#define g_mime_utils_header_decode_text (::quillon::gmimeLoader::functions().g_mime_utils_header_decode_text)
#define g_mime_utils_header_unfold (::quillon::gmimeLoader::functions().g_mime_utils_header_unfold)
#endif
