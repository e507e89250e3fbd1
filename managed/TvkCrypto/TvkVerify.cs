// TvkVerify.cs - whether reads look for a check file.

namespace TvkCrypto
{
    /// <summary>Whether an encrypted file is verified against its check file.</summary>
    public enum TvkVerify
    {
        /// <summary>Never look for a check file: decrypt whatever is there.</summary>
        None = 0,
        /// <summary>Use the check file when there is one (the default).</summary>
        IfPresent = 1,
        /// <summary>Fail with <see cref="System.IO.FileNotFoundException"/> without one.</summary>
        Required = 2
    }
}
