/* The test initramfs's /init: one line on the console, then halt. Built with
 * Linux's own nolibc, so it needs no C library. */
int main(void)
{
	static const char line[] = "quorvel-linux-init: OK\n";

	write(1, line, sizeof(line) - 1);
	reboot(LINUX_REBOOT_CMD_HALT);
	/* The halt does not return; if it did, ending init would panic. */
	for (;;)
		sleep(1000);
}
