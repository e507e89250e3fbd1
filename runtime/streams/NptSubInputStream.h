/*****************************************************************
| NptSubInputStream.h - NPT_SubInputStream, a window of another input
| stream shown as a stream of its own.
|
| The window is the byte range [start, start + size) of the source; the
| sub-range stream's positions run from 0 to size. It holds one share of
| the source handle for its whole life and releases it when destroyed.
| The source is sought to the window position before every read, so
| other users of the same source may move it between reads. Not safe for
| concurrent use.
****************************************************************/
#ifndef NPT_SUB_INPUT_STREAM_H
#define NPT_SUB_INPUT_STREAM_H

#include "NptStreams.h"

class NPT_EXPORT NPT_SubInputStream : public NPT_InputStream
{
public:
    // Takes a further share of source; the window position starts at 0.
    NPT_SubInputStream(const NPT_InputStreamReference& source,
                       NPT_Position                    start,
                       NPT_LargeSize                   size);
    ~NPT_SubInputStream() override = default;

    NPT_SubInputStream(const NPT_SubInputStream&) = delete;
    NPT_SubInputStream& operator=(const NPT_SubInputStream&) = delete;

    // Reads at most up to the end of the window. A request for 0 bytes
    // succeeds at once; at the end of the window NPT_ERROR_END_OF_STREAM
    // without touching the source. A failing source Seek or Read returns
    // its code (NPT_ERROR_END_OF_STREAM when the source ends inside the
    // window) with the position unchanged and a count of 0. A window
    // whose source position would pass 2^64 - 1 gives
    // NPT_ERROR_OUT_OF_RANGE; an empty source handle
    // NPT_ERROR_INVALID_STATE.
    NPT_Result Read(void*     buffer,
                    NPT_Size  bytes_to_read,
                    NPT_Size* bytes_read = nullptr) override;
    // Any position from 0 to size (inclusive); beyond the window
    // NPT_ERROR_OUT_OF_RANGE, position kept. The source isn't touched.
    NPT_Result Seek(NPT_Position position) override;
    NPT_Result Tell(NPT_Position& position) override;
    // The window size.
    NPT_Result GetSize(NPT_LargeSize& size) override;
    // size - position.
    NPT_Result GetAvailable(NPT_LargeSize& available) override;

private:
    NPT_InputStreamReference m_Source;
    NPT_Position             m_Position;
    NPT_Position             m_Start;
    NPT_LargeSize            m_Size;
};

#endif // NPT_SUB_INPUT_STREAM_H
