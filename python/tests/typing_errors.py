"""Calls the binding's types refuse, one a line below, each an error of mypy --strict."""
import kelvane

kelvane.solid("in.pgm", "out.png", bordr=1)
text: str = kelvane.rounded(b"", radius=1)
kelvane.rounded("in.pgm", "out.png", radius="3")
kelvane.solid(b"", border=1, format="gif")
kelvane.shadow(b"", color=(1, 2))
kelvane.solid("in.pgm", "out.png", border=1, format="png")
