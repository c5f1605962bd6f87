package jqel.doctor;

/**
 * The machines the doctor knows, one row each: the JVM's os.arch name, the
 * code and name of each file format, the Debian multiarch triplet of its
 * library folders, what ld.so expands $PLATFORM to, and its
 * processorArchitecture in side-by-side manifests.
 */
enum Machine {
    X86("x86", 32, 0x14C, "i386", 3, "i386", "i386-linux-gnu", "i686", "x86"),
    AMD64("amd64", 64, 0x8664, "AMD64", 62, "x86-64", "x86_64-linux-gnu", "x86_64", "amd64"),
    AARCH64("aarch64", 64, 0xAA64, "ARM64", 183, "AArch64", "aarch64-linux-gnu", "aarch64", "arm64"),
    ARM("arm", 32, 0x1C4, "ARM", 40, "ARM", "arm-linux-gnueabihf", "v7l", "arm");

    final String arch;
    final int bits;
    final int peCode;
    final String peName;
    final int elfCode;
    final String elfName;
    final String triplet;
    final String platform;
    final String sideBySide;

    Machine(String arch, int bits, int peCode, String peName, int elfCode, String elfName, String triplet, String platform,
            String sideBySide) {
        this.arch = arch;
        this.bits = bits;
        this.peCode = peCode;
        this.peName = peName;
        this.elfCode = elfCode;
        this.elfName = elfName;
        this.triplet = triplet;
        this.platform = platform;
        this.sideBySide = sideBySide;
    }

    /** The machine of a file's header code, or null for one the doctor does not know. */
    static Machine of(String format, int code) {
        for (Machine machine : values()) {
            if ((format.equals(Image.PE) ? machine.peCode : machine.elfCode) == code) {
                return machine;
            }
        }
        return null;
    }

    /** The machine the JVM's os.arch names, or null. */
    static Machine ofArch(String arch) {
        for (Machine machine : values()) {
            if (machine.arch.equals(arch)) {
                return machine;
            }
        }
        return null;
    }
}
