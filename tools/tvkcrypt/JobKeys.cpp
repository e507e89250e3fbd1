/*****************************************************************
| JobKeys.cpp - the password and keys of one tvkcrypt job.
****************************************************************/
#include "JobKeys.h"

#include <cstring>

#include "CheckFileIo.h"
#include "NptResults.h"
#include "Options.h"
#include "QuotedName.h"
#include "TvkCryptoHelper.h"

namespace tvkcrypt {

int
JobKeys::Obtain(const Options& options, const EnvironmentPassword& environment, bool encrypting, bool confirm,
                const std::string& prompt, bool new_password)
{
    std::string error;
    // the new password of a rekey is never the old one's environment
    // variable: only its own file or the prompt
    EnvironmentPassword none;
    const std::string& file = new_password ? options.new_password_file : options.password_file;
    if (!ObtainPassword(file, encrypting, confirm, new_password ? none : environment, options.password_encoding,
                        m_Password, error, prompt)) {
        return Failure(error);
    }
    if (!DeriveKey(m_Password, m_Key, error)) return Failure(error);
    m_Obtained = true;
    return 0;
}

void
JobKeys::CopyKey(Key& key) const
{
    std::memcpy(key.Bytes(), const_cast<Key&>(m_Key).Bytes(), TVK_CryptoHelper::KEY_SIZE);
}

int
JobKeys::StartWriter(TVK_CheckFileWriter& writer, NPT_UInt64 data_size)
{
    std::string error;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (!m_WriteKeys) {
            std::unique_ptr<TVK_CheckFileKeys> keys(new TVK_CheckFileKeys);
            if (!DeriveCheckKeys(*keys, m_Password, error)) return Failure(error);
            m_WriteKeys = std::move(keys);
            ++m_WriteDerivations;
        }
    }
    NPT_Result result = writer.Start(*m_WriteKeys, TVK_CheckFile::BlockSizeFor(data_size));
    if (NPT_FAILED(result)) return Failure(std::string("cannot start the check file: ") + NPT_ResultText(result));
    return 0;
}

NPT_Result
JobKeys::KeysOf(const TVK_CheckFileReader& reader, std::shared_ptr<const TVK_CheckFileKeys>& keys)
{
    return m_ReadKeys.Find(reinterpret_cast<const NPT_UInt8*>(m_Password.CString()),
                           static_cast<NPT_Size>(m_Password.Size()), reader.Salt(), reader.Iterations(), keys);
}

NPT_Result
JobKeys::VerifyQuietly(TVK_CheckFileReader& reader)
{
    std::shared_ptr<const TVK_CheckFileKeys> keys;
    NPT_CHECK(KeysOf(reader, keys));
    return reader.VerifyPassword(*keys);
}

int
JobKeys::Verify(TVK_CheckFileReader& reader, const std::string& check_path)
{
    return CheckPasswordStatus(VerifyQuietly(reader), check_path);
}

unsigned
JobKeys::Derivations() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_WriteDerivations + m_ReadKeys.Derivations();
}

}  // namespace tvkcrypt
