/* The test initramfs's /init: one line on the console, then halt. With
 * quorvel_echo=1 on the kernel command line (which Linux hands to init as an
 * environment variable) it first reads a line from the console and says it back,
 * to show that typing reaches Linux. Built with Linux's own nolibc, so it needs no
 * C library. */
static void say(const char *text)
{
	write(1, text, strlen(text));
}

int main(int argc, char **argv, char **envp)
{
	char line[128];
	ssize_t got;

	say("quorvel-linux-init: OK\n");
	if (_getenv("quorvel_echo", envp)) {
		say("quorvel-linux-init: type a line\n");
		got = read(0, line, sizeof(line) - 1);
		line[got > 0 ? got : 0] = '\0';
		say("quorvel-linux-init: read: ");
		say(line);
		if (got <= 0 || line[got - 1] != '\n')
			say("\n");
	}
	reboot(LINUX_REBOOT_CMD_HALT);
	/* The halt does not return; if it did, ending init would panic. */
	for (;;)
		sleep(1000);
}
