// An outside C# program run against the installed managed binding:
// encrypts a text into a stream, decrypts it back into a string, and
// prints "round trip ok" when the text comes back unchanged.
using System;
using System.IO;
using System.Text;
using TVKCryptoWrapper;

public static class ManagedConsumer
{
    public static int Main()
    {
        string text = "tvkcrypto from an outside managed program";
        var encrypted = new MemoryStream();
        if (!Helper.EncryptDecryptWithPassword("outside", HelperDirection.ENCRYPT,
                new MemoryStream(Encoding.ASCII.GetBytes(text)), encrypted)) {
            Console.WriteLine("encrypt failed");
            return 1;
        }
        encrypted.Position = 0;
        string decrypted = null;
        if (!Helper.EncryptDecryptWithPassword("outside", HelperDirection.DECRYPT,
                encrypted, ref decrypted) || decrypted != text) {
            Console.WriteLine("decrypt failed: " + decrypted);
            return 1;
        }
        Console.WriteLine("round trip ok");
        return 0;
    }
}
