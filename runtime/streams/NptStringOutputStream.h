/*****************************************************************
| NptStringOutputStream.h - NPT_StringOutputStream, an output stream
| that appends everything written to an NPT_String.
|
| The managed entry point collects the transformed data in one and
| hands its string back to the caller. The stream either creates its
| string (and destroys it) or appends to a caller's string, which must
| outlive the stream and is never destroyed by it. The stream only
| appends: it cannot be repositioned. Not safe for concurrent use.
****************************************************************/
#ifndef NPT_STRING_OUTPUT_STREAM_H
#define NPT_STRING_OUTPUT_STREAM_H

#include "NptStreams.h"
#include "NptStrings.h"

class NPT_EXPORT NPT_StringOutputStream : public NPT_OutputStream
{
public:
    // An owned, empty string with room for initial_capacity bytes.
    explicit NPT_StringOutputStream(NPT_Size initial_capacity = 4096);
    // Appends to the caller's string. A null string gives a stream with
    // an owned, empty string of its own (as the first form with 0).
    explicit NPT_StringOutputStream(NPT_String* string);
    ~NPT_StringOutputStream() override;

    NPT_StringOutputStream(const NPT_StringOutputStream&) = delete;
    NPT_StringOutputStream& operator=(const NPT_StringOutputStream&) = delete;

    // Appends all bytes_to_write bytes and returns NPT_SUCCESS; null data
    // with bytes_to_write > 0 writes nothing: NPT_ERROR_INVALID_PARAMETERS.
    NPT_Result Write(const void* data,
                     NPT_Size    bytes_to_write,
                     NPT_Size*   bytes_written = nullptr) override;
    // Always NPT_ERROR_NOT_SUPPORTED.
    NPT_Result Seek(NPT_Position position) override;
    // The string's present length.
    NPT_Result Tell(NPT_Position& position) override;

    const NPT_String& GetString() const { return *m_String; }

private:
    NPT_String* m_String;
    bool        m_StringIsOwned;
};

#endif // NPT_STRING_OUTPUT_STREAM_H
