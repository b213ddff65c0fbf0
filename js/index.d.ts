// Types of tarnwick-kelvane's JavaScript interface (index.js).

/** A picture's bytes: in Node and browsers a Uint8Array or an ArrayBuffer, in browsers a Blob or File too. */
export type Picture = Uint8Array | ArrayBuffer | ArrayBufferView | Blob;
/** [red, green, blue]; only the low 8 bits of each count. */
export type Color = [number, number, number];
/** The format of a result in bytes. */
export type Format = "png" | "jpg" | "jpeg" | "bmp";

/** The library refused a job; `message` is its own one-line text. */
export class KelvaneError extends Error {
  name: "KelvaneError";
}

interface InMemory {
  /** The result's format (PNG by default). */
  format?: Format;
}

export interface SolidOptions { border: number; color?: Color; }
export interface PaddingOptions { padding: number; color?: Color; }
export interface SidesOptions { top?: number; right?: number; bottom?: number; left?: number; color?: Color; }
export interface RoundedOptions { radius: number; }
export interface ShadowOptions { dx?: number; dy?: number; blur?: number; color?: Color; }

/** An operation: on files in Node (the output's name sets its format), or on bytes anywhere. */
export interface Operation<Options> {
  (inPath: string, outPath: string, options: Options): Promise<void>;
  (picture: Picture, options: Options & InMemory): Promise<Uint8Array>;
}

/** A band `border` pixels wide on every side, in the opaque colour `color` (white by default). */
export const solid: Operation<SolidOptions>;
/** The same picture as solid(); a negative width is reported as padding. */
export const padding: Operation<PaddingOptions>;
/** A band with its own width on each side; the canvas may be at most 65536 pixels each way. */
export const sides: Operation<SidesOptions>;
/** The corners cut along anti-aliased quarter circles of `radius` pixels. */
export const rounded: Operation<RoundedOptions>;
/** The picture over its silhouette in `color` (black by default), shifted by (dx, dy), blurred by `blur`. */
export const shadow: Operation<ShadowOptions>;
