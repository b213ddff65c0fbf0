"""The whole-job benchmark's jobs done with Pillow, as a Python program would:

    peer_pillow.py border  IN OUT MARGIN          white band, like kelvane solid
    peer_pillow.py rounded IN OUT RADIUS          corners cut to transparent (a 4x supersampled mask)
    peer_pillow.py shadow  IN OUT DX DY BLUR      black shadow, Gaussian sigma BLUR / sqrt(2)

JPEG output is written at quality 90; everything else with Pillow's defaults.
"""
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageOps


def save(picture, path):
    if path.endswith((".jpg", ".jpeg", ".bmp")) and picture.mode == "RGBA":
        flat = Image.new("RGB", picture.size, (255, 255, 255))
        flat.paste(picture, mask=picture.getchannel("A"))
        picture = flat
    picture.save(path, quality=90) if path.endswith((".jpg", ".jpeg")) else picture.save(path)


def border(picture, margin):
    """An opaque picture stays RGB: the cheapest way Pillow has."""
    fill = (255, 255, 255, 255) if picture.mode == "RGBA" else (255, 255, 255)
    return ImageOps.expand(picture, border=margin, fill=fill)


def rounded(picture, radius):
    picture = picture.convert("RGBA")
    w, h = picture.size
    mask = Image.new("L", (w * 4, h * 4), 0)
    ImageDraw.Draw(mask).rounded_rectangle((0, 0, w * 4 - 1, h * 4 - 1), radius * 4, fill=255)
    mask = mask.resize((w, h), Image.LANCZOS)
    picture.putalpha(ImageChops.darker(picture.getchannel("A"), mask))
    return picture


def shadow(picture, dx, dy, blur):
    picture = picture.convert("RGBA")
    w, h = picture.size
    canvas = Image.new("RGBA", (w + abs(dx) + 2 * blur, h + abs(dy) + 2 * blur), (0, 0, 0, 0))
    silhouette = Image.new("RGBA", picture.size, (0, 0, 0, 255))
    silhouette.putalpha(picture.getchannel("A"))
    canvas.paste(silhouette, (blur + max(dx, 0), blur + max(dy, 0)))
    canvas = canvas.filter(ImageFilter.GaussianBlur(blur / 2 ** 0.5))
    canvas.paste(picture, (blur + max(-dx, 0), blur + max(-dy, 0)))
    return canvas


def main(job, source, target, *numbers):
    picture = Image.open(source)
    numbers = [int(n) for n in numbers]
    result = {"border": border, "rounded": rounded, "shadow": shadow}[job](picture, *numbers)
    save(result, target)


if __name__ == "__main__":
    main(*sys.argv[1:])
