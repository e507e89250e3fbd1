// Fuzz target for the cipher streams and CBC decryption. The first input
// byte picks one of them.
//
// Streams: an encrypting or decrypting stream over data from the input
// (read through a source that delivers short reads) is driven by random
// Read, Seek, Tell and GetAvailable calls; every byte it delivers must
// equal the whole buffer transformed at once with a key stream computed
// here straight from AES.
//
// CBC: any input is decrypted; the result and the padding verdict must
// match a block-by-block decryption done here, and a successful result
// must encrypt back to the input.

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "NptBlockCipher.h"
#include "NptDataBuffer.h"
#include "TestStreams.h"
#include "TvkBlockCipherFactory.h"
#include "TvkDecryptingStream.h"
#include "TvkEncryptingStream.h"

namespace {

using tvk_fuzz::Reader;
using Bytes = std::vector<NPT_Byte>;

std::unique_ptr<NPT_BlockCipher> MakeAes(const Bytes& key, NPT_BlockCipher::Direction direction)
{
    NPT_BlockCipher* cipher = nullptr;
    FUZZ_CHECK(NPT_BlockCipher::Create(NPT_BlockCipher::AES_128, direction, key.data(), 16, cipher) ==
               NPT_SUCCESS);
    return std::unique_ptr<NPT_BlockCipher>(cipher);
}

// data XOR the counter-mode key stream from offset 0: chunks of
// 16 << factor bytes, chunk c XORed with AES(12 zero bytes || c).
Bytes Transformed(const Bytes& data, const Bytes& key, unsigned factor)
{
    if (factor > 8) factor = 8;
    std::unique_ptr<NPT_BlockCipher> aes = MakeAes(key, NPT_BlockCipher::ENCRYPT);
    Bytes out(data.size());
    NPT_UInt8 counter[16] = {};
    NPT_UInt8 block[16];
    std::uint64_t current = ~std::uint64_t(0);
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::uint64_t chunk = (i & 0xFFFFFFFFu) >> (factor + 4);
        if (chunk != current) {
            for (int k = 0; k < 4; ++k) counter[12 + k] = static_cast<NPT_UInt8>(chunk >> (24 - 8 * k));
            FUZZ_CHECK(aes->ProcessBlock(counter, block) == NPT_SUCCESS);
            current = chunk;
        }
        out[i] = data[i] ^ block[i % 16];
    }
    return out;
}

void FuzzStreams(Reader& input)
{
    Bytes key = input.Take(16);
    key.resize(16);
    const unsigned factor = input.Byte() % 10;
    const bool decrypting = input.Bool();
    const NPT_Size max_read = input.Byte() % 20;
    std::size_t size = input.U16() % 5000;
    Bytes data = input.Take(size);
    data.resize(size, 0x5A);
    const Bytes expected = Transformed(data, key, factor);

    // an encrypting stream may start at a source offset; then it
    // delivers the transformation of the bytes from there on
    NPT_Position start = 0;
    bool has_start = !decrypting && input.Bool();
    if (has_start) start = input.Below(static_cast<std::uint32_t>(size));

    tvk_test::FakeInputStream* source = new tvk_test::FakeInputStream(data);
    source->max_read = max_read;
    NPT_InputStreamReference source_handle(source);
    NPT_InputStreamReference stream;
    NPT_Result created =
        decrypting
            ? TVK_DecryptingStream::Create(source_handle, key.data(), 16,
                                           &TVK_DefaultBlockCipherFactory::Instance, stream, nullptr,
                                           static_cast<NPT_UInt8>(factor))
            : TVK_EncryptingStream::Create(source_handle, key.data(), 16,
                                           &TVK_DefaultBlockCipherFactory::Instance, stream, nullptr,
                                           has_start ? &start : nullptr, static_cast<NPT_UInt8>(factor));
    FUZZ_CHECK(created == NPT_SUCCESS);

    // the position the stream stands at, and where in expected that is
    std::size_t position = 0;
    auto at = [&](std::size_t p) { return static_cast<std::size_t>(start) + p; };
    const std::size_t end = size - static_cast<std::size_t>(start);
    for (int step = 0; step < 64 && !input.Empty(); ++step) {
        switch (input.Byte() % 3) {
            case 0:
            case 1: {
                NPT_Size want = input.U16() % 2100;
                Bytes out(want + 1, 0xC3);
                NPT_Size got = 99;
                NPT_Result result = stream->Read(out.data(), want, &got);
                std::size_t left = end - position;
                if (want > 0 && left == 0) {
                    FUZZ_CHECK(result == NPT_ERROR_END_OF_STREAM && got == 0);
                    break;
                }
                FUZZ_CHECK(result == NPT_SUCCESS);
                FUZZ_CHECK(got == std::min<std::size_t>(want, left));
                FUZZ_CHECK(std::equal(out.begin(), out.begin() + got, expected.begin() + at(position)));
                FUZZ_CHECK(out[got] == 0xC3);
                position += got;
                break;
            }
            case 2: {
                NPT_Position to = input.Below(static_cast<std::uint32_t>(end + 2));
                NPT_Result result = stream->Seek(to);
                if (decrypting) {
                    if (to > end) {
                        FUZZ_CHECK(result == NPT_ERROR_INVALID_PARAMETERS);
                    } else {
                        FUZZ_CHECK(result == NPT_SUCCESS);
                        position = static_cast<std::size_t>(to);
                    }
                } else {
                    FUZZ_CHECK(result == (to == position ? NPT_SUCCESS : NPT_ERROR_NOT_SUPPORTED));
                }
                break;
            }
        }
        NPT_Position told = 0;
        FUZZ_CHECK(stream->Tell(told) == NPT_SUCCESS && told == position);
        NPT_LargeSize available = 0;
        NPT_LargeSize stream_size = 0;
        FUZZ_CHECK(stream->GetSize(stream_size) == NPT_SUCCESS && stream_size == size);
        FUZZ_CHECK(stream->GetAvailable(available) == NPT_SUCCESS && available == size - position);
    }
}

void FuzzCbcDecryption(Reader& input)
{
    Bytes key = input.Take(16);
    key.resize(16);
    const bool null_iv = input.Bool();
    Bytes iv = input.Take(16);
    iv.resize(16);
    if (null_iv) std::fill(iv.begin(), iv.end(), 0);
    Bytes ciphertext = input.Rest();

    std::unique_ptr<NPT_BlockCipher> decrypt = MakeAes(key, NPT_BlockCipher::DECRYPT);
    NPT_DataBuffer output;
    NPT_Result result = decrypt->ProcessCbc(ciphertext.data(), static_cast<NPT_Size>(ciphertext.size()),
                                            null_iv ? nullptr : iv.data(), output);
    if (ciphertext.size() % 16) {
        FUZZ_CHECK(result == NPT_ERROR_INVALID_PARAMETERS);
        return;
    }
    if (ciphertext.empty()) {
        FUZZ_CHECK(result == NPT_ERROR_INVALID_FORMAT);
        return;
    }

    // block by block, then the padding: n bytes of value n, 1 <= n <= 16
    Bytes plain(ciphertext.size());
    const NPT_UInt8* previous = iv.data();
    for (std::size_t b = 0; b < ciphertext.size(); b += 16) {
        FUZZ_CHECK(decrypt->ProcessBlock(&ciphertext[b], &plain[b]) == NPT_SUCCESS);
        for (int k = 0; k < 16; ++k) plain[b + k] ^= previous[k];
        previous = &ciphertext[b];
    }
    NPT_Byte pad = plain.back();
    bool valid = pad >= 1 && pad <= 16 &&
                 std::all_of(plain.end() - pad, plain.end(), [pad](NPT_Byte b) { return b == pad; });
    if (!valid) {
        FUZZ_CHECK(result == NPT_ERROR_INVALID_FORMAT);
        return;
    }
    FUZZ_CHECK(result == NPT_SUCCESS);
    FUZZ_CHECK(output.GetDataSize() == plain.size() - pad);
    FUZZ_CHECK(output.GetDataSize() == 0 || std::memcmp(output.GetData(), plain.data(), output.GetDataSize()) == 0);

    // and the same padding comes back when encrypting
    std::unique_ptr<NPT_BlockCipher> encrypt = MakeAes(key, NPT_BlockCipher::ENCRYPT);
    NPT_DataBuffer again;
    FUZZ_CHECK(encrypt->ProcessCbc(output.GetData(), output.GetDataSize(), null_iv ? nullptr : iv.data(),
                                   again) == NPT_SUCCESS);
    FUZZ_CHECK(again.GetDataSize() == ciphertext.size());
    FUZZ_CHECK(std::memcmp(again.GetData(), ciphertext.data(), ciphertext.size()) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Reader input(data, size);
    if (input.Byte() % 4 == 3) {
        FuzzCbcDecryption(input);
    } else {
        FuzzStreams(input);
    }
    return 0;
}
