/*****************************************************************
| NptStreamCopy.h - NPT_StreamToStreamCopy, moving the bytes of an input
| stream into an output stream.
|
| The copy is the last step of every password encryption and
| decryption: it reads the transforming stream and writes the sink. It
| uses one 64 KiB heap block for the whole transfer and allocates
| nothing else. Both streams are borrowed for the call only. Runs on the
| caller's thread; the streams must not be used elsewhere meanwhile.
****************************************************************/
#ifndef NPT_STREAM_COPY_H
#define NPT_STREAM_COPY_H

#include "NptStreams.h"

// Bytes moved per read of the copy.
const NPT_Size NPT_STREAM_COPY_CHUNK_SIZE = 0x10000;

// Copies from `from` to `to`: everything up to the end of `from` when
// size is 0, otherwise at most size bytes. A non-zero offset first seeks
// `from` there; offset 0 copies from wherever `from` stands.
// *bytes_written (when given) is set to 0 first and then counts every
// byte `to` accepted, on success and on failure alike.
//
// Results:
//   NPT_SUCCESS              the source ended (NPT_ERROR_END_OF_STREAM)
//                            or size bytes were copied
//   Seek's code              offset given and the seek failed; nothing
//                            allocated or copied
//   NPT_ERROR_OUT_OF_MEMORY  the transfer block can't be allocated
//   Read's / Write's code    any other failure of either stream; bytes
//                            already written stay written
//   NPT_ERROR_INTERNAL       a stream broke its contract: a Write that
//                            succeeded without taking a byte, or a
//                            count larger than asked
NPT_EXPORT NPT_Result NPT_StreamToStreamCopy(NPT_InputStream&  from,
                                  NPT_OutputStream& to,
                                  NPT_Position      offset        = 0,
                                  NPT_LargeSize     size          = 0,
                                  NPT_LargeSize*    bytes_written = nullptr);

#endif // NPT_STREAM_COPY_H
