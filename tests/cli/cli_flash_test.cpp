// flash: file checks, a board that answers a block wrongly, one whole transfer, Ctrl-C.
